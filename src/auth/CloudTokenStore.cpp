#include "CloudTokenStore.h"

#include "common/AppSupport.h"
#include "common/AtomicFile.h"
#include "common/NorvelaError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>

namespace norvela {

namespace {

const QString accountsKey = QStringLiteral("accounts");
const QString uidKey = QStringLiteral("uid");
const QString emailKey = QStringLiteral("email");
const QString refreshTokenKey = QStringLiteral("refreshToken");
const QString storageKeyKey = QStringLiteral("storageKey");

std::optional<QList<TokenSlot>> decodeCurrent(const QJsonDocument& doc) {
    if (!doc.isObject() || !doc.object().value(accountsKey).isArray())
        return std::nullopt;
    QList<TokenSlot> slots;
    for (const QJsonValue& entry : doc.object().value(accountsKey).toArray()) {
        const QJsonObject o = entry.toObject();
        const QJsonValue uid = o.value(uidKey), email = o.value(emailKey), token = o.value(refreshTokenKey),
                         key = o.value(storageKeyKey);
        if (!entry.isObject() || !uid.isString() || !email.isString() || !token.isString() || !key.isString())
            return std::nullopt; // one bad slot fails the whole file as this format
        slots.append({uid.toString(), email.toString(), token.toString(), key.toString()});
    }
    return slots;
}

std::optional<QString> decodeLegacy(const QJsonDocument& doc) {
    if (!doc.isObject() || !doc.object().value(refreshTokenKey).isString())
        return std::nullopt;
    return doc.object().value(refreshTokenKey).toString();
}

// Loads the stored slots, also telling whether the bytes on disk were unreadable.
QList<TokenSlot> loadFile(const QString& path, const QString& providerID, bool* unreadable) {
    *unreadable = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::optional<QList<TokenSlot>> slots = CloudTokenStore::decode(file.readAll(), providerID);
    *unreadable = !slots;
    return slots.value_or(QList<TokenSlot>());
}

} // namespace

std::optional<QList<TokenSlot>> CloudTokenStore::decode(const QByteArray& bytes, const QString& providerID) {
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (auto slots = decodeCurrent(doc))
        return slots;
    if (auto token = decodeLegacy(doc))
        return QList<TokenSlot>{TokenSlot{QString(), QString(), *token, providerID}};
    return std::nullopt;
}

CloudTokenStore::CloudTokenStore(QString providerID, QString filename)
    : m_providerID(std::move(providerID)), m_filename(std::move(filename)) {}

CloudTokenStore CloudTokenStore::dropbox() {
    return {QStringLiteral("dropbox"), QStringLiteral("dropbox-credentials.json")};
}

CloudTokenStore CloudTokenStore::googleDrive() {
    return {QStringLiteral("gdrive"), QStringLiteral("google-credentials.json")};
}

QString CloudTokenStore::fileURL() const {
    return AppSupport::dataDirectory() + QLatin1Char('/') + m_filename;
}

QList<TokenSlot> CloudTokenStore::load() const {
    bool unreadable = false;
    return loadFile(fileURL(), m_providerID, &unreadable);
}

void CloudTokenStore::save(const QList<TokenSlot>& slots) const {
    const QString path = fileURL();

    // An unreadable file is about to be replaced or deleted; keep its bytes aside (still
    // owner-only) so a hand-damaged credential file can be repaired instead of being lost.
    bool unreadable = false;
    loadFile(path, m_providerID, &unreadable);
    if (unreadable)
        AtomicFile::moveAside(path, QStringLiteral("unreadable"));

    if (slots.isEmpty()) {
        QFile file(path);
        if (!file.remove() && file.exists())
            throw NorvelaError(file.errorString() + QStringLiteral(" (") + path + QLatin1Char(')'));
        return;
    }

    QJsonArray accounts;
    for (const TokenSlot& slot : slots)
        accounts.append(QJsonObject{{uidKey, slot.uid},
                                    {emailKey, slot.email},
                                    {refreshTokenKey, slot.refreshToken},
                                    {storageKeyKey, slot.storageKey}});
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{accountsKey, accounts}}).toJson(QJsonDocument::Compact);
    QString error;
    const bool written = AtomicFile::write(path, bytes, 0600, AtomicFile::Durability::Synced, &error);
    // Also when the atomic replace failed and an older file stays: it must not be readable by others.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (!written)
        throw NorvelaError(error);
}

TokenSlot CloudTokenStore::upsert(const QString& uid, const QString& email,
                                  const QString& refreshToken) const {
    QList<TokenSlot> slots = load();
    if (!uid.isEmpty()) {
        for (TokenSlot& slot : slots) {
            if (slot.uid == uid) {
                slot.email = email;
                slot.refreshToken = refreshToken;
                const TokenSlot updated = slot;
                save(slots);
                return updated;
            }
        }
    }
    auto taken = [&](const QString& key) {
        return std::any_of(slots.cbegin(), slots.cend(),
                           [&](const TokenSlot& s) { return s.storageKey == key; });
    };
    QString key = taken(m_providerID) ? m_providerID + QLatin1Char('-') + sanitize(uid) : m_providerID;
    // Keys must stay unique (unlinking removes by key): two uids that sanitize alike, or two
    // accounts without a uid, get a counter.
    const QString base = key;
    for (int n = 2; taken(key); ++n)
        key = base + QLatin1Char('-') + QString::number(n);
    const TokenSlot added{uid, email, refreshToken, key};
    slots.append(added);
    save(slots);
    return added;
}

void CloudTokenStore::remove(const QString& storageKey) const {
    QList<TokenSlot> slots = load();
    slots.removeIf([&](const TokenSlot& s) { return s.storageKey == storageKey; });
    save(slots);
}

std::optional<TokenSlot> CloudTokenStore::resolveIdentity(const QString& storageKey, const QString& uid,
                                                          const QString& email) const {
    QList<TokenSlot> slots = load();
    if (std::none_of(slots.cbegin(), slots.cend(),
                     [&](const TokenSlot& s) { return s.storageKey == storageKey; }))
        return std::nullopt;
    slots.removeIf([&](const TokenSlot& s) { return s.uid == uid && s.storageKey != storageKey; });
    auto it = std::find_if(slots.begin(), slots.end(),
                           [&](const TokenSlot& s) { return s.storageKey == storageKey; });
    it->uid = uid;
    if (it->email.isEmpty())
        it->email = email;
    const TokenSlot updated = *it;
    save(slots);
    return updated;
}

QString CloudTokenStore::sanitize(const QString& text) {
    QString out;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (graphemes.toNextBoundary() != -1) {
        const qsizetype end = graphemes.position();
        const QString cluster = text.mid(start, end - start);
        const char32_t first = cluster.toUcs4().value(0);
        const bool keep = QChar::isLetterOrNumber(first);
        out += keep ? cluster : QStringLiteral("-");
        start = end;
    }
    while (out.startsWith(QLatin1Char('-')))
        out.remove(0, 1);
    while (out.endsWith(QLatin1Char('-')))
        out.chop(1);
    return out;
}

} // namespace norvela
