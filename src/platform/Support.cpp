#include "Support.h"

#include "DesktopServices.h"

#include <QFile>

namespace norvela::Support {

namespace {

QString orUnknown(const QString& value) {
    return value.isEmpty() ? QStringLiteral("?") : value;
}

QString queryValue(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// A shell-style value as os-release allows it: bare, 'single' or "double" quoted with
// backslash escapes.
QString unquoted(const QString& value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))) {
        const QString inner = value.mid(1, value.size() - 2);
        if (value.front() == QLatin1Char('\''))
            return inner;
        QString out;
        for (qsizetype i = 0; i < inner.size(); ++i) {
            if (inner.at(i) == QLatin1Char('\\') && i + 1 < inner.size())
                ++i;
            out += inner.at(i);
        }
        return out;
    }
    return value;
}

} // namespace

QString address() {
    return QStringLiteral(NORVELA_SUPPORT_EMAIL);
}

QUrl feedbackUrl(const QString& version, const QString& build, const QString& osLine) {
    const QString subject = QStringLiteral("Norvela feedback (v") + orUnknown(version) + QLatin1Char(')');
    const QString body = QStringLiteral("\n\n\u2014\u2014\nNorvela ") + orUnknown(version) +
                         QStringLiteral(" (") + orUnknown(build) + QStringLiteral(")\n") + osLine;
    return QUrl(QStringLiteral("mailto:") + address() + QStringLiteral("?subject=") + queryValue(subject) +
                    QStringLiteral("&body=") + queryValue(body),
                QUrl::StrictMode);
}

void composeFeedback(DesktopServices& desktop) {
    const QUrl url =
        feedbackUrl(QStringLiteral(NORVELA_VERSION), QStringLiteral(NORVELA_BUILD), operatingSystemLine());
    if (url.isValid())
        desktop.openUrl(url);
}

QString osReleasePrettyName(const QString& filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString name;
    // Read as a shell would: the last assignment wins.
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("PRETTY_NAME=")))
            name = unquoted(line.mid(int(qstrlen("PRETTY_NAME="))));
    }
    return name.simplified();
}

} // namespace norvela::Support
