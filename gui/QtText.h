// Where Tegalo's Shift_JIS text meets Qt's Unicode: every Japanese byte
// string that Qt shows, and every text the user types, passes here.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

namespace tegalo {

// Shift_JIS (code page 932) bytes as a QString; bytes that are not Shift_JIS
// show as U+FFFD.
QString FromSjis(std::string_view sjis);

// A QString in Shift_JIS. Characters without a Shift_JIS form are left out
// and listed in *unmapped when given: callers that take user input check it
// and warn instead of dropping text in silence.
std::string ToSjis(const QString& text, QStringList* unmapped = nullptr);

// A path as the file system takes it (UTF-8 bytes), and back.
std::string NativePath(const QString& path);
QString FromNativePath(std::string_view path);

} // namespace tegalo
