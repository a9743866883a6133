#include "gui/Printing.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

namespace tegalo {

std::vector<std::string_view> BodyLines(std::string_view body) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    for (std::size_t eol; (eol = body.find("\r\n", pos)) != std::string_view::npos; pos = eol + 2) {
        lines.push_back(body.substr(pos, eol - pos));
    }
    if (pos < body.size()) {
        lines.push_back(body.substr(pos));
    }
    return lines;
}

bool PrintBody(QPrinter& printer, std::string_view body) {
    QPainter painter;
    if (!painter.begin(&printer)) {
        return false;
    }
    const QFontMetrics metrics = painter.fontMetrics();
    const int lineHeight = metrics.height() + metrics.leading();
    int line = 0;
    for (std::string_view text : BodyLines(body)) {
        if (line == kLinesPerPage) {
            printer.newPage();
            line = 0;
        }
        painter.drawText(0, lineHeight * line + metrics.ascent(), FromSjis(text));
        ++line;
    }
    painter.end();
    return true;
}

QString PdfFileName(const QString& subject) {
    QString name;
    for (const QChar c : subject.trimmed()) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 32 || c.unicode() == 127) {
            name += QLatin1Char('_');
        } else {
            name += c;
        }
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) {
        name.prepend(QStringLiteral("message"));
    }
    return name.left(120) + QStringLiteral(".pdf");
}

std::unique_ptr<QPrinter> ChoosePrintTarget(QWidget* parent, const QString& subject) {
    if (Prompter().HasPrinter()) {
        return Prompter().ChoosePrinter(parent);
    }
    QString path = Prompter().ChooseFileToSave(parent, PdfFileName(subject), {QStringLiteral("PDF (*.pdf)")});
    if (path.isEmpty()) {
        return nullptr;
    }
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        path += QStringLiteral(".pdf");
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    return printer;
}

} // namespace tegalo
