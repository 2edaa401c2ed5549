#include "DropboxApiArg.h"

#include <QJsonDocument>

namespace norvela::DropboxApiArg {

QByteArray encode(const QJsonObject& arg) {
    static const char hex[] = "0123456789abcdef";
    const QString json = QString::fromUtf8(QJsonDocument(arg).toJson(QJsonDocument::Compact));
    QByteArray out;
    out.reserve(json.size());
    // Outside strings the compact form is printable ASCII already, so only text is escaped;
    // QString holds UTF-16, so characters above U+FFFF arrive as their surrogate pair.
    for (const QChar c : json) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7f) {
            out += char(u);
            continue;
        }
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(u >> shift) & 0xf];
    }
    return out;
}

} // namespace norvela::DropboxApiArg
