#include "UpdateFeed.h"

#include <QRegularExpression>
#include <QXmlStreamWriter>

namespace cloudsim {

namespace {

constexpr const char* sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

} // namespace

UpdateFeed::UpdateFeed() {
    reset();
}

void UpdateFeed::reset() {
    setLatestVersion(QString::fromLatin1(defaultVersion));
}

bool UpdateFeed::setLatestVersion(const QString& version, const QString& title) {
    static const QRegularExpression pageSafe(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z.+-]*$"));
    if (!pageSafe.match(version).hasMatch())
        return false;
    m_version = version;
    m_title = title.isEmpty() ? QStringLiteral("Norvela ") + version : title;
    m_published = QDateTime::currentDateTimeUtc();
    return true;
}

QString UpdateFeed::pageName() const {
    return QStringLiteral("/norvela-") + m_version + QStringLiteral(".html");
}

QByteArray UpdateFeed::appcast(const QString& baseUrl) const {
    const QString sparkle = QString::fromLatin1(sparkleNamespace);
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeNamespace(sparkle, QStringLiteral("sparkle"));
    xml.writeStartElement(QStringLiteral("rss"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("channel"));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Norvela"));
    xml.writeTextElement(QStringLiteral("link"), baseUrl + QStringLiteral("/updates/appcast.xml"));
    xml.writeTextElement(QStringLiteral("description"), QStringLiteral("Norvela releases"));
    xml.writeTextElement(QStringLiteral("language"), QStringLiteral("en"));
    xml.writeStartElement(QStringLiteral("item"));
    xml.writeTextElement(QStringLiteral("title"), m_title);
    xml.writeTextElement(QStringLiteral("link"), baseUrl + QStringLiteral("/updates") + pageName());
    xml.writeTextElement(sparkle, QStringLiteral("version"), m_version);
    xml.writeTextElement(sparkle, QStringLiteral("shortVersionString"), m_version);
    xml.writeTextElement(QStringLiteral("pubDate"), m_published.toString(Qt::RFC2822Date));
    xml.writeEndElement(); // item
    xml.writeEndElement(); // channel
    xml.writeEndElement(); // rss
    xml.writeEndDocument();
    return out;
}

HttpResponse UpdateFeed::handle(const HttpRequest& request, const QString& rest,
                                const QString& baseUrl) const {
    if (request.method != "GET")
        return HttpResponse::text(405, "Method Not Allowed");
    if (rest == QLatin1String("/appcast.xml"))
        return HttpResponse::text(200, appcast(baseUrl), "application/rss+xml; charset=utf-8");
    if (rest == pageName()) {
        const QString page =
            QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
                           "<body><h1>%1</h1><p>Release notes for Norvela %2.</p></body></html>\n")
                .arg(m_title.toHtmlEscaped(), m_version);
        return HttpResponse::text(200, page.toUtf8(), "text/html; charset=utf-8");
    }
    return HttpResponse::text(404, "Not Found");
}

QJsonObject UpdateFeed::toJson() const {
    return {{QStringLiteral("version"), m_version},
            {QStringLiteral("title"), m_title},
            {QStringLiteral("published"), m_published.toString(Qt::ISODate)}};
}

void UpdateFeed::fromJson(const QJsonObject& o) {
    if (!setLatestVersion(o.value(QStringLiteral("version")).toString(),
                          o.value(QStringLiteral("title")).toString()))
        return;
    const QDateTime published =
        QDateTime::fromString(o.value(QStringLiteral("published")).toString(), Qt::ISODate);
    if (published.isValid())
        m_published = published;
}

} // namespace cloudsim
