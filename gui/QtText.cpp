#include "gui/QtText.h"

#include "text/unicode.h"

#include <QFile>

namespace tegalo {

QString FromSjis(std::string_view sjis) {
    const std::string utf8 = SjisToUtf8(sjis);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToSjis(const QString& text, QStringList* unmapped) {
    const QByteArray utf8 = text.toUtf8();
    SjisConversion converted = Utf8ToSjis(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    if (unmapped) {
        unmapped->clear();
        for (const std::string& c : converted.unmapped) {
            unmapped->append(QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size())));
        }
    }
    return std::move(converted.text);
}

std::string NativePath(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString FromNativePath(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

} // namespace tegalo
