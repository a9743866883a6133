#include "config/AccountSettings.h"

#include "store/FileIo.h"
#include "store/TextLines.h"
#include "text/unicode.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <vector>

namespace tegalo {

using namespace literals;

namespace {

// The decimal value of a line's leading digits, after optional blanks and a
// sign; 0 when there are none. Values beyond an int are clamped.
int LeadingNumber(std::string_view text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string_view::npos) {
        return 0;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            return negative ? INT_MIN : INT_MAX;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

std::string_view Flag(bool on) {
    return on ? "1" : "0";
}

// The text fields by line number (1 to 12); nullptr for the numeric lines.
template <typename Settings>
auto TextField(Settings& s, int line) -> decltype(&s.serverName) {
    switch (line) {
    case 1: return &s.serverName;
    case 2: return &s.serverName2;
    case 5: return &s.userName;
    case 6: return &s.password;
    case 7: return &s.mailAccount;
    case 9: return &s.displayName;
    case 12: return &s.checkInterval;
    case 16: return &s.smtpUserName;
    case 17: return &s.smtpPassword;
    default: return nullptr;
    }
}

void SettingsMessage(StoreUi& ui, std::string_view path, int error) {
    ui.Message("構成定義ﾌｧｲﾙがｵｰﾌﾟﾝできません"_sjis);
    ui.Trace("Can't open file " + std::string(path) + ", error = " + std::to_string(error) + "\n");
}

template <typename Enum>
Enum EnumFrom(std::string_view text, int last) {
    const int value = LeadingNumber(text);
    return static_cast<Enum>(value >= 0 && value <= last ? value : 0);
}

std::string Number(auto value) {
    return std::to_string(static_cast<int>(value));
}

} // namespace

int ParseAccountSettings(std::string_view bytes, AccountSettings& settings) {
    const std::vector<std::string> lines = SplitTextLines(bytes);
    const int found = static_cast<int>(std::min<std::size_t>(lines.size(), kSettingsLinesAll));
    // A file written before the security lines existed: none of them is set.
    settings.pop3Security = settings.smtpSecurity = Security::None;
    settings.smtpLogin = SmtpLogin::None;
    settings.smtpUserName.clear();
    settings.smtpPassword.clear();
    settings.pop3Login = Pop3Login::UserPass;
    for (int line = 1; line <= found; ++line) {
        const std::string& text = lines[static_cast<std::size_t>(line - 1)];
        if (std::string* field = TextField(settings, line)) {
            *field = text;
            continue;
        }
        switch (line) {
        case 3: settings.pop3Port = LeadingNumber(text); break;
        case 4: settings.smtpPort = LeadingNumber(text); break;
        case 8: settings.keepOnServer = LeadingNumber(text) != 0; break;
        case 10: settings.receiveAtStartup = LeadingNumber(text) != 0; break;
        case 11: settings.checkNewMail = LeadingNumber(text) != 0; break;
        case 13: settings.pop3Security = EnumFrom<Security>(text, 2); break;
        case 14: settings.smtpSecurity = EnumFrom<Security>(text, 2); break;
        case 15: settings.smtpLogin = EnumFrom<SmtpLogin>(text, 4); break;
        case 18: settings.pop3Login = EnumFrom<Pop3Login>(text, 2); break;
        default: break;
        }
    }
    return found;
}

std::string FormatAccountSettings(const AccountSettings& s) {
    const std::vector<std::string> lines = {
        s.serverName,
        s.serverName2,
        std::to_string(s.pop3Port),
        std::to_string(s.smtpPort),
        s.userName,
        s.password,
        s.mailAccount,
        std::string(Flag(s.keepOnServer)),
        s.displayName,
        std::string(Flag(s.receiveAtStartup)),
        std::string(Flag(s.checkNewMail)),
        s.checkInterval,
        Number(s.pop3Security),
        Number(s.smtpSecurity),
        Number(s.smtpLogin),
        s.smtpUserName,
        s.smtpPassword,
        Number(s.pop3Login),
    };
    return JoinTextLines(lines);
}

int FindUnsavableLine(const AccountSettings& settings) {
    for (int line = 1; line <= kSettingsLinesAll; ++line) {
        const std::string* text = TextField(settings, line);
        if (text != nullptr && (text->size() > kSettingsValueMax ||
                                text->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)) {
            return line;
        }
    }
    return 0;
}

std::string SmtpUserNameOf(const AccountSettings& settings) {
    return settings.smtpUserName.empty() ? settings.userName : settings.smtpUserName;
}

std::string SmtpPasswordOf(const AccountSettings& settings) {
    return settings.smtpPassword.empty() ? settings.password : settings.smtpPassword;
}

int UsualPop3Port(Security security) {
    return security == Security::Implicit ? 995 : 110;
}

int UsualSmtpPort(Security security) {
    switch (security) {
    case Security::Implicit: return 465;
    case Security::StartTls: return 587;
    case Security::None: break;
    }
    return 25;
}

bool IsUsualPop3Port(int port) {
    return port == 110 || port == 995;
}

bool IsUsualSmtpPort(int port) {
    return port == 25 || port == 465 || port == 587;
}

SettingsStatus ReadAccountSettings(const std::string& dir, AccountSettings& settings, StoreUi& ui) {
    const std::string path = dir + std::string(kSettingsFileName);
    std::string bytes;
    if (const int error = ReadWholeFile(path, bytes); error != 0) {
        SettingsMessage(ui, path, error);
        return SettingsStatus::kCannotOpen;
    }
    if (ParseAccountSettings(bytes, settings) < kSettingsLines) {
        ui.Message("構成定義ﾌｧｲﾙの行が足りません"_sjis);
        return SettingsStatus::kIncomplete;
    }
    return SettingsStatus::kOk;
}

SettingsStatus SaveAccountSettings(const std::string& dir, const AccountSettings& settings, StoreUi& ui) {
    if (const int line = FindUnsavableLine(settings); line != 0) {
        ui.Message("構成定義ﾌｧｲﾙに保存できない値があります（"_sjis + std::to_string(line) + "行目）"_sjis);
        return SettingsStatus::kUnsavableValue;
    }
    const std::string path = dir + std::string(kSettingsFileName);
    int error = 0;
    // Only an existing file is replaced, and only one we may write.
    if (UniqueFd existing = OpenFile(path, O_WRONLY | O_NOFOLLOW, 0, error); !existing.Valid()) {
        SettingsMessage(ui, path, error);
        return SettingsStatus::kCannotOpen;
    }
    AtomicFile file;
    error = file.Open(dir, kSettingsFileName, 0600);
    if (error == 0) {
        error = file.Write(FormatAccountSettings(settings));
    }
    if (error == 0) {
        error = file.Commit();
    }
    if (error != 0) {
        SettingsMessage(ui, path, error);
        return SettingsStatus::kCannotWrite;
    }
    return SettingsStatus::kOk;
}

} // namespace tegalo
