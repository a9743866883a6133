// Printing a message body: 36 lines to a page, no header.
#pragma once

#include <QString>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QPrinter;
class QWidget;

namespace tegalo {

inline constexpr int kLinesPerPage = 36;

// The body's lines as they are printed: split at each CR LF. A last line
// without a line end is printed too; an empty text after the last CR LF is
// not a line.
std::vector<std::string_view> BodyLines(std::string_view body);

// Prints the body (Shift_JIS) on `printer`, each line at the left edge, one
// line height (font height plus leading) below the one before. Returns false
// when the printer could not be started.
bool PrintBody(QPrinter& printer, std::string_view body);

// The file name offered when a message goes to a PDF file: its subject
// without the characters a file name cannot hold (or "message" when nothing
// is left), and ".pdf".
QString PdfFileName(const QString& subject);

// Where a message with this subject is printed: the print dialog, which
// also offers a PDF file, or, when the system has no printer, a PDF file
// chosen in the save dialog. Null when the user cancelled.
std::unique_ptr<QPrinter> ChoosePrintTarget(QWidget* parent, const QString& subject);

} // namespace tegalo
