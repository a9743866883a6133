// The account settings and their file ".\comconfig": twelve text lines, each
// ended by CR LF, in this order: server name, second server name (for SMTP),
// POP3 port, SMTP port, user name, password, mail account, keep on server,
// display name, receive at start-up, check for new mail, check interval.
#pragma once

#include "store/StoreUi.h"

#include <string>
#include <string_view>

namespace tegalo {

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

    bool operator==(const AccountSettings&) const = default;
};

inline constexpr std::string_view kSettingsFileName = "comconfig";
inline constexpr int kSettingsLines = 12;
// The longest text value a line holds; older readers take 79 characters of
// a line including its line end.
inline constexpr std::size_t kSettingsValueMax = 78;

// Fills `settings` from the bytes of a settings file and returns the number
// of lines found (at most 12). Fields whose line is missing keep their
// value. Texts are taken whole, whatever their length; ports by the decimal
// value of their leading digits (no digits gives 0); flags are on when that
// value is not 0.
int ParseAccountSettings(std::string_view bytes, AccountSettings& settings);

// The twelve lines of the settings file. Ports are written in full.
std::string FormatAccountSettings(const AccountSettings& settings);

// The line (1 to 12) of the first text value that the file cannot hold
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

// Writes the settings file anew, as a whole or not at all, readable by its
// owner only. The file must exist already: the program does not create it
// here.
[[nodiscard]] SettingsStatus SaveAccountSettings(const std::string& dir, const AccountSettings& settings,
                                                 StoreUi& ui);

} // namespace tegalo
