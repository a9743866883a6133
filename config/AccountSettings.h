// The account settings and their file ".\comconfig": text lines, each ended
// by CR LF, in this order: server name, second server name (for SMTP), POP3
// port, SMTP port, user name, password, mail account, keep on server, display
// name, receive at start-up, check for new mail, check interval; then the
// connection security and login lines 13 to 18: POP3 security, SMTP
// security, SMTP login, SMTP user name, SMTP password, POP3 login. A file of
// only the first twelve lines (as older versions wrote it) means no TLS, no
// SMTP login and USER/PASS.
#pragma once

#include "store/StoreUi.h"

#include <string>
#include <string_view>

namespace tegalo {

// How a connection is protected. The numbers are those of the settings file.
enum class Security : int {
    None = 0,     // plain text
    StartTls = 1, // plain connection upgraded at once (POP3 STLS, SMTP STARTTLS)
    Implicit = 2, // TLS from the start (POP3S, SMTPS)
};

// How the send session logs in. The numbers are those of the settings file.
enum class SmtpLogin : int {
    None = 0,      // no AUTH
    Automatic = 1, // the strongest mechanism both sides have
    Plain = 2,
    Login = 3,
    CramMd5 = 4,
};

// How the receive session logs in. The numbers are those of the settings file.
enum class Pop3Login : int {
    UserPass = 0,  // USER and PASS
    Apop = 1,      // APOP with the greeting's timestamp
    Automatic = 2, // SASL (AUTH) when offered, else APOP when offered, else USER/PASS
};

struct AccountSettings {
    std::string serverName;        // POP3 server; SMTP too when serverName2 is empty
    int pop3Port = 110;
    std::string userName;
    std::string password;          // kept in clear: the file format requires it
    int smtpPort = 25;
    std::string mailAccount;       // the user's address
    bool keepOnServer = false;     // leave fetched mail on the server
    std::string serverName2;       // SMTP server
    std::string displayName;       // the user's name in sent mail
    bool receiveAtStartup = false;
    bool checkNewMail = false;
    std::string checkInterval = "30"; // "10", "20" or "30"
    Security pop3Security = Security::None;
    Security smtpSecurity = Security::None;
    SmtpLogin smtpLogin = SmtpLogin::None;
    std::string smtpUserName;      // empty: userName
    std::string smtpPassword;      // empty: password
    Pop3Login pop3Login = Pop3Login::UserPass;

    bool operator==(const AccountSettings&) const = default;
};

inline constexpr std::string_view kSettingsFileName = "comconfig";
// The lines every settings file has, and all the lines Tegalo writes.
inline constexpr int kSettingsLines = 12;
inline constexpr int kSettingsLinesAll = 18;
// The longest text value a line holds; older readers take 79 characters of
// a line including its line end.
inline constexpr std::size_t kSettingsValueMax = 78;

// Fills `settings` from the bytes of a settings file and returns the number
// of lines found (at most 18). Fields whose line is missing among the first
// twelve keep their value; lines 13 to 18 missing mean 0 or empty. Texts
// are taken whole, whatever their length; ports by the decimal value of
// their leading digits (no digits gives 0); flags are on when that value is
// not 0; a security or login number out of range counts as 0.
int ParseAccountSettings(std::string_view bytes, AccountSettings& settings);

// The eighteen lines of the settings file. Ports are written in full.
std::string FormatAccountSettings(const AccountSettings& settings);

// The line (1 to 18) of the first text value that the file cannot hold
// (longer than 78 bytes, or holding CR, LF or NUL), or 0 when all can be saved.
int FindUnsavableLine(const AccountSettings& settings);

// The ports the settings dialog accepts.
constexpr bool IsValidPort(int port) { return port >= 1 && port <= 65535; }

enum class SettingsStatus {
    kOk = 0,
    kCannotOpen,     // no settings file, or it cannot be opened
    kIncomplete,     // fewer than twelve lines: the missing ones keep their values
    kCannotWrite,    // the new file did not reach the disk; the old one is untouched
    kUnsavableValue, // a value too long for its line, or holding a line break
};

// Reads `dir` + "comconfig" ("構成定義ﾌｧｲﾙがｵｰﾌﾟﾝできません" when it cannot
// be opened; `settings` is then unchanged).
[[nodiscard]] SettingsStatus ReadAccountSettings(const std::string& dir, AccountSettings& settings, StoreUi& ui);

// The user name and password the send session logs in with: the SMTP ones,
// or the POP3 ones where those are empty.
std::string SmtpUserNameOf(const AccountSettings& settings);
std::string SmtpPasswordOf(const AccountSettings& settings);

// The port a connection of `security` usually uses, and whether `port` is
// one of those usual ports (so that choosing another security may change
// it without losing what the user typed).
int UsualPop3Port(Security security);
int UsualSmtpPort(Security security);
bool IsUsualPop3Port(int port);
bool IsUsualSmtpPort(int port);

// Writes the settings file anew, as a whole or not at all, readable by its
// owner only. The file must exist already: the program does not create it
// here.
[[nodiscard]] SettingsStatus SaveAccountSettings(const std::string& dir, const AccountSettings& settings,
                                                 StoreUi& ui);

} // namespace tegalo
