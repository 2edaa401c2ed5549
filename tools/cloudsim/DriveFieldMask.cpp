#include "DriveFieldMask.h"

#include "DriveError.h"

#include <QJsonArray>
#include <QSet>
#include <QStringList>

#include <algorithm>

namespace cloudsim {

namespace {

// Names of the resources this emulator serves, and common ones it merely doesn't fill in:
// asking for a name Drive knows is fine, a misspelt one is refused as the service does.
const QSet<QString>& knownFields() {
    static const QSet<QString> names = [] {
        QSet<QString> set;
        for (const char* name : {"kind",
                                 "id",
                                 "name",
                                 "mimeType",
                                 "parents",
                                 "trashed",
                                 "explicitlyTrashed",
                                 "createdTime",
                                 "modifiedTime",
                                 "version",
                                 "size",
                                 "md5Checksum",
                                 "headRevisionId",
                                 "webViewLink",
                                 "webContentLink",
                                 "shared",
                                 "ownedByMe",
                                 "owners",
                                 "permissions",
                                 "permissionIds",
                                 "quotaBytesUsed",
                                 "originalFilename",
                                 "fileExtension",
                                 "fullFileExtension",
                                 "description",
                                 "starred",
                                 "iconLink",
                                 "thumbnailLink",
                                 "capabilities",
                                 "spaces",
                                 "viewedByMe",
                                 "files",
                                 "nextPageToken",
                                 "incompleteSearch",
                                 "revisions",
                                 "keepForever",
                                 "published",
                                 "lastModifyingUser",
                                 "role",
                                 "type",
                                 "emailAddress",
                                 "domain",
                                 "allowFileDiscovery",
                                 "displayName",
                                 "deleted",
                                 "user",
                                 "storageQuota",
                                 "limit",
                                 "usage",
                                 "usageInDrive",
                                 "usageInDriveTrash",
                                 "me",
                                 "photoLink",
                                 "permissionId",
                                 "maxUploadSize"})
            set.insert(QLatin1String(name));
        return set;
    }();
    return names;
}

} // namespace

class DriveFieldMask::Parser {
public:
    explicit Parser(const QString& text) : m_text(text) {}

    // list := item (',' item)*;  item := name ('/' name)* ['(' list ')']
    bool list(DriveFieldMask& into) {
        into.m_all = false;
        do {
            if (!item(into))
                return false;
        } while (eat(QLatin1Char(',')));
        return true;
    }

    bool atEnd() {
        skipSpace();
        return m_at >= m_text.size();
    }
    QString offending;

private:
    bool item(DriveFieldMask& into) {
        QStringList path;
        for (;;) {
            const QString name = word();
            if (name.isEmpty() || (!path.isEmpty() && path.last() == QLatin1String("*")))
                return false;
            if (name != QLatin1String("*") && !knownFields().contains(name)) {
                offending = name;
                return false;
            }
            path.append(name);
            if (!eat(QLatin1Char('/')))
                break;
        }
        DriveFieldMask one; // everything below the path
        if (eat(QLatin1Char('('))) {
            if (path.last() == QLatin1String("*") || !list(one) || !eat(QLatin1Char(')')))
                return false;
        }
        if (path.last() == QLatin1String("*"))
            path.removeLast();
        for (qsizetype i = path.size() - 1; i >= 0; --i) {
            DriveFieldMask parent;
            parent.m_all = false;
            parent.m_children.emplace_back(path[i], std::move(one));
            one = std::move(parent);
        }
        merge(into, std::move(one));
        return true;
    }

    // Two selections of the same field select the union of both.
    static void merge(DriveFieldMask& target, DriveFieldMask&& source) {
        if (target.m_all)
            return;
        if (source.m_all) {
            target.m_all = true;
            target.m_children.clear();
            return;
        }
        for (auto& [name, mask] : source.m_children) {
            auto existing = std::find_if(target.m_children.begin(), target.m_children.end(),
                                         [&](const auto& entry) { return entry.first == name; });
            if (existing != target.m_children.end())
                merge(existing->second, std::move(mask));
            else
                target.m_children.emplace_back(name, std::move(mask));
        }
    }

    QString word() {
        skipSpace();
        const qsizetype start = m_at;
        if (m_at < m_text.size() && m_text.at(m_at) == QLatin1Char('*'))
            return m_text.mid(m_at++, 1);
        while (m_at < m_text.size() &&
               (m_text.at(m_at).isLetterOrNumber() || m_text.at(m_at) == QLatin1Char('_')))
            ++m_at;
        return m_text.mid(start, m_at - start);
    }

    bool eat(QChar c) {
        skipSpace();
        if (m_at < m_text.size() && m_text.at(m_at) == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    void skipSpace() {
        while (m_at < m_text.size() && m_text.at(m_at).isSpace())
            ++m_at;
    }

    const QString& m_text;
    qsizetype m_at = 0;
};

std::optional<DriveFieldMask> DriveFieldMask::parse(const QString& text, QString* offending) {
    DriveFieldMask mask;
    Parser parser(text);
    if (!parser.list(mask) || !parser.atEnd()) {
        if (offending)
            *offending = parser.offending.isEmpty() ? text : parser.offending;
        return std::nullopt;
    }
    return mask;
}

QJsonValue DriveFieldMask::apply(const QJsonValue& value) const {
    if (m_all)
        return value;
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& element : value.toArray())
            out.append(apply(element));
        return out;
    }
    if (!value.isObject())
        return value;
    const QJsonObject object = value.toObject();
    QJsonObject out;
    for (const auto& [name, mask] : m_children)
        if (object.contains(name))
            out.insert(name, mask.apply(object.value(name)));
    return out;
}

QJsonObject DriveFieldMask::apply(const QJsonObject& full) const {
    return apply(QJsonValue(full)).toObject();
}

HttpResponse selectedFields(const QJsonObject& full, const QString& fields, const QString& defaults) {
    QString offending;
    const auto mask = DriveFieldMask::parse(fields.isEmpty() ? defaults : fields, &offending);
    if (!mask)
        return DriveError{400, QStringLiteral("invalidParameter"),
                          QStringLiteral("Invalid field selection %1").arg(offending),
                          QStringLiteral("fields")}
            .response();
    return HttpResponse::json(200, QJsonDocument(mask->apply(full)));
}

} // namespace cloudsim
