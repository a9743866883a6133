#include "config/AccountSettings.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>

namespace tegalo {
namespace {

using namespace literals;
using namespace testing_support;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 0777;
}

// The security and login lines of settings that have none of them set.
const std::string kNoSecurityLines = "0\r\n0\r\n0\r\n\r\n\r\n0\r\n";

TEST(ConfigSettings, ReadsTheLinesInFileOrder) {
    AccountSettings s;
    EXPECT_EQ(ParseAccountSettings(Golden("comconfig_full"), s), 12);
    EXPECT_EQ(s.serverName, "pop.example.jp");
    EXPECT_EQ(s.serverName2, "smtp.example.jp");
    EXPECT_EQ(s.pop3Port, 995);
    EXPECT_EQ(s.smtpPort, 2525);
    EXPECT_EQ(s.userName, "taro");
    EXPECT_EQ(s.password, std::string(78, 'p')) << "a 78-character value is read whole";
    EXPECT_EQ(s.mailAccount, "taro@example.jp");
    EXPECT_TRUE(s.keepOnServer);
    EXPECT_EQ(s.displayName, "山田太郎"_sjis);
    EXPECT_FALSE(s.receiveAtStartup);
    EXPECT_TRUE(s.checkNewMail);
    EXPECT_EQ(s.checkInterval, "20");
    EXPECT_EQ(FormatAccountSettings(s), Golden("comconfig_full") + kNoSecurityLines);
}

TEST(ConfigSettings, NumbersAndFlags) {
    struct Row {
        const char* line;
        int port;
        bool flag;
    } const rows[] = {
        {"110", 110, true},  {"2525", 2525, true},   {"65535", 65535, true}, {"  25", 25, true},
        {"25abc", 25, true}, {"", 0, false},         {"abc", 0, false},      {"0", 0, false},
        {"2", 2, true},      {"-5", -5, true},       {"99999999999", INT_MAX, true},
    };
    for (const Row& row : rows) {
        AccountSettings s;
        const std::string file = "\r\n\r\n" + std::string(row.line) + "\r\n25\r\n\r\n\r\n\r\n" + row.line + "\r\n";
        ParseAccountSettings(file, s);
        EXPECT_EQ(s.pop3Port, row.port) << row.line;
        EXPECT_EQ(s.keepOnServer, row.flag) << row.line;
    }
}

TEST(ConfigSettings, ShortFilesAndOtherLineEnds) {
    AccountSettings s;
    EXPECT_EQ(ParseAccountSettings("a\nb\n2525", s), 3) << "LF alone ends a line; a last line needs no line end";
    EXPECT_EQ(s.serverName, "a");
    EXPECT_EQ(s.serverName2, "b");
    EXPECT_EQ(s.pop3Port, 2525);
    EXPECT_EQ(s.smtpPort, 25);
    EXPECT_EQ(s.checkInterval, "30");

    const std::string longLine(200, 'L');
    AccountSettings t;
    EXPECT_EQ(ParseAccountSettings(longLine + "\r\nnext\r\n", t), 2);
    EXPECT_EQ(t.serverName, longLine) << "a long line stays one value and the next line the next field";
    EXPECT_EQ(t.serverName2, "next");

    AccountSettings u;
    EXPECT_EQ(ParseAccountSettings(Golden("comconfig_full") + kNoSecurityLines + "extra\r\n", u), 18);
    EXPECT_EQ(u.checkInterval, "20");
    EXPECT_EQ(u.pop3Login, Pop3Login::UserPass) << "lines after the eighteenth are not read";
}

TEST(ConfigSettings, RoundTrip) {
    AccountSettings s;
    s.serverName = "mail.example.jp";
    s.pop3Port = 2525;
    s.smtpPort = 65535;
    s.password = std::string(78, '#');
    s.displayName = "ﾃｽﾄ"_sjis;
    s.keepOnServer = s.receiveAtStartup = s.checkNewMail = true;
    s.checkInterval = "10";
    s.pop3Security = Security::StartTls;
    s.smtpSecurity = Security::Implicit;
    s.smtpLogin = SmtpLogin::CramMd5;
    s.smtpUserName = "taro@example.jp";
    s.smtpPassword = "送信用"_sjis;
    s.pop3Login = Pop3Login::Automatic;
    AccountSettings back;
    back.serverName = "stale";
    EXPECT_EQ(ParseAccountSettings(FormatAccountSettings(s), back), 18);
    EXPECT_EQ(back, s);
}

// A file of twelve lines was written before the security lines existed:
// reading it turns every one of them off, whatever was set before.
TEST(ConfigSettings, SecurityAndLoginLines) {
    AccountSettings s;
    s.pop3Security = Security::Implicit;
    s.smtpLogin = SmtpLogin::Plain;
    s.smtpUserName = "stale";
    EXPECT_EQ(ParseAccountSettings(Golden("comconfig_full"), s), 12);
    EXPECT_EQ(s.pop3Security, Security::None);
    EXPECT_EQ(s.smtpSecurity, Security::None);
    EXPECT_EQ(s.smtpLogin, SmtpLogin::None);
    EXPECT_EQ(s.smtpUserName, "");
    EXPECT_EQ(s.pop3Login, Pop3Login::UserPass);

    const struct {
        const char* name;
        const char* lines;
        Security pop3;
        Security smtp;
        SmtpLogin smtpLogin;
        Pop3Login pop3Login;
    } rows[] = {
        {"every value", "2\r\n1\r\n4\r\nu\r\np\r\n1\r\n", Security::Implicit, Security::StartTls,
         SmtpLogin::CramMd5, Pop3Login::Apop},
        {"numbers out of range are off", "3\r\n-1\r\n5\r\n\r\n\r\n9\r\n", Security::None, Security::None,
         SmtpLogin::None, Pop3Login::UserPass},
        {"not numbers are off", "x\r\n\r\nauto\r\n\r\n\r\n", Security::None, Security::None, SmtpLogin::None,
         Pop3Login::UserPass},
        {"only some of the new lines", "1\r\n2", Security::StartTls, Security::Implicit, SmtpLogin::None,
         Pop3Login::UserPass},
    };
    for (const auto& row : rows) {
        AccountSettings t;
        ParseAccountSettings(Golden("comconfig_full") + row.lines, t);
        EXPECT_EQ(t.pop3Security, row.pop3) << row.name;
        EXPECT_EQ(t.smtpSecurity, row.smtp) << row.name;
        EXPECT_EQ(t.smtpLogin, row.smtpLogin) << row.name;
        EXPECT_EQ(t.pop3Login, row.pop3Login) << row.name;
    }

    // The SMTP login falls back on the POP3 user and password.
    AccountSettings u;
    u.userName = "taro";
    u.password = "pop";
    EXPECT_EQ(SmtpUserNameOf(u), "taro");
    EXPECT_EQ(SmtpPasswordOf(u), "pop");
    u.smtpUserName = "taro@example.jp";
    u.smtpPassword = "smtp";
    EXPECT_EQ(SmtpUserNameOf(u), "taro@example.jp");
    EXPECT_EQ(SmtpPasswordOf(u), "smtp");

    // A password line that cannot be saved is named by its line.
    u.smtpPassword = "a\nb";
    EXPECT_EQ(FindUnsavableLine(u), 17);
}

TEST(ConfigSettings, SaveWritesTheWholeFileAnewForItsOwnerOnly) {
    TempDir dir;
    ScriptedUi ui;
    const std::string path = dir / "comconfig";
    // An older file with a longer password and lines after the twelfth.
    WriteFile(path, Golden("comconfig_full") + "stale tail\r\n");
    ::chmod(path.c_str(), 0644);
    AccountSettings s;
    ASSERT_EQ(ReadAccountSettings(dir.Path(), s, ui), SettingsStatus::kOk);
    s.password = "short";
    s.pop3Port = 2525;
    ASSERT_EQ(SaveAccountSettings(dir.Path(), s, ui), SettingsStatus::kOk) << ui.Shown();
    EXPECT_EQ(ReadFile(path), "pop.example.jp\r\nsmtp.example.jp\r\n2525\r\n2525\r\ntaro\r\nshort\r\ntaro@example.jp\r\n1\r\n" +
                                  "山田太郎"_sjis + "\r\n0\r\n1\r\n20\r\n" + kNoSecurityLines);
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_TRUE(ui.messages.empty()) << ui.Shown();
}

TEST(ConfigSettings, MissingFile) {
    TempDir dir;
    ScriptedUi ui;
    const std::string message = "構成定義ﾌｧｲﾙがｵｰﾌﾟﾝできません"_sjis;
    AccountSettings s;
    EXPECT_EQ(ReadAccountSettings(dir.Path(), s, ui), SettingsStatus::kCannotOpen);
    EXPECT_EQ(s, AccountSettings{});
    EXPECT_EQ(SaveAccountSettings(dir.Path(), s, ui), SettingsStatus::kCannotOpen);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{message, message}));
    EXPECT_FALSE(std::filesystem::exists(dir / "comconfig"));

    // An empty file is there to be written, but holds no settings yet.
    WriteFile(dir / "comconfig", "");
    ui.messages.clear();
    EXPECT_EQ(ReadAccountSettings(dir.Path(), s, ui), SettingsStatus::kIncomplete);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"構成定義ﾌｧｲﾙの行が足りません"_sjis});
    EXPECT_EQ(s, AccountSettings{});
    EXPECT_EQ(SaveAccountSettings(dir.Path(), s, ui), SettingsStatus::kOk);
    EXPECT_EQ(ReadFile(dir / "comconfig"), Golden("comconfig_defaults"));
}

TEST(ConfigSettings, ValuesTheFileCannotHold) {
    TempDir dir;
    ScriptedUi ui;
    WriteFile(dir / "comconfig", Golden("comconfig_full"));
    struct Row {
        const char* name;
        void (*change)(AccountSettings&);
        int line;
    } const rows[] = {
        {"79-byte password", [](AccountSettings& s) { s.password = std::string(79, 'p'); }, 6},
        {"line break in the display name", [](AccountSettings& s) { s.displayName = "a\r\nb"; }, 9},
        {"LF in the server name", [](AccountSettings& s) { s.serverName = "a\nb"; }, 1},
        {"NUL in the interval", [](AccountSettings& s) { s.checkInterval = std::string("1\0", 2); }, 12},
    };
    for (const Row& row : rows) {
        AccountSettings s;
        row.change(s);
        EXPECT_EQ(FindUnsavableLine(s), row.line) << row.name;
        EXPECT_EQ(SaveAccountSettings(dir.Path(), s, ui), SettingsStatus::kUnsavableValue) << row.name;
        EXPECT_EQ(ui.Last(), "構成定義ﾌｧｲﾙに保存できない値があります（"_sjis + std::to_string(row.line) + "行目）"_sjis);
        EXPECT_EQ(ReadFile(dir / "comconfig"), Golden("comconfig_full")) << row.name;
    }
    EXPECT_EQ(FindUnsavableLine(AccountSettings{}), 0);
}

} // namespace
} // namespace tegalo
