#include "SettingsStore.h"

#include "AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QSet>
#include <QStandardPaths>

namespace norvela {

namespace {
// Bytes are stored as {"data": "<base64>"}: the only object-valued entries, so the four
// stored types never blur into each other.
const QString dataKey = QStringLiteral("data");

// Long enough for an editor's save (rename, create, write) to land as one change.
constexpr auto settleTime = std::chrono::milliseconds(100);

} // namespace

SettingsStore::SettingsStore(QString filePath, QObject* parent)
    : QObject(parent), m_path(std::move(filePath)) {
    bool corrupt = false;
    m_values = m_announced = readFile(&corrupt).value_or(QJsonObject());
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleTime);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        rewatch();
        reload();
    });
}

QString SettingsStore::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Norvela/settings.json");
}

void SettingsStore::reload() {
    bool corrupt = false;
    const std::optional<QJsonObject> read = readFile(&corrupt);
    if (!read)
        return;
    m_values = *read;
    QStringList changed;
    const QStringList all = m_values.keys() + m_announced.keys();
    for (const QString& key : QSet<QString>(all.cbegin(), all.cend()))
        if (m_values.value(key) != m_announced.value(key))
            changed.append(key);
    m_announced = m_values;
    if (changed.isEmpty())
        return;
    changed.sort();
    Q_EMIT changedElsewhere(changed);
}

void SettingsStore::watch() {
    if (m_watcher)
        return;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_watcher = new QFileSystemWatcher(this);
    // The folder sees a rename over the file (every atomic write); the file itself sees an
    // editor writing in place.
    auto settle = [this] { m_settle.start(); };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
    rewatch();
    reload(); // whatever changed since this store first read the file
}

void SettingsStore::rewatch() {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (m_watcher->directories().isEmpty() && QFileInfo(folder).isDir())
        m_watcher->addPath(folder);
    // A rename over the file leaves the watch on the replaced one.
    if (!m_watcher->files().isEmpty())
        m_watcher->removePaths(m_watcher->files());
    if (QFileInfo::exists(m_path))
        m_watcher->addPath(m_path);
}

std::optional<QJsonObject> SettingsStore::readFile(bool* corrupt) const {
    *corrupt = false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject()) {
        *corrupt = true;
        return std::nullopt;
    }
    return doc.object();
}

std::optional<bool> SettingsStore::boolValue(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    return v.isBool() ? std::optional<bool>(v.toBool()) : std::nullopt;
}

std::optional<double> SettingsStore::doubleValue(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

std::optional<QString> SettingsStore::stringValue(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

std::optional<QByteArray> SettingsStore::dataValue(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    if (!v.isObject())
        return std::nullopt;
    const QJsonObject wrapper = v.toObject();
    if (wrapper.size() != 1 || !wrapper.value(dataKey).isString())
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(wrapper.value(dataKey).toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? std::optional<QByteArray>(*decoded) : std::nullopt;
}

void SettingsStore::setBool(const QString& key, bool value) {
    store(key, QJsonValue(value));
}
void SettingsStore::setDouble(const QString& key, double value) {
    store(key, QJsonValue(value));
}
void SettingsStore::setString(const QString& key, const QString& value) {
    store(key, QJsonValue(value));
}
void SettingsStore::setData(const QString& key, const QByteArray& value) {
    store(key, QJsonObject{{dataKey, QString::fromLatin1(value.toBase64())}});
}
void SettingsStore::remove(const QString& key) {
    store(key, std::nullopt);
}

void SettingsStore::store(const QString& key, const std::optional<QJsonValue>& value) {
    bool corrupt = false;
    // Without a readable file the last values read are the base, so no write wipes the rest.
    QJsonObject onDisk = readFile(&corrupt).value_or(m_values);
    if (corrupt) // keep the unreadable file for the user rather than writing over it
        AtomicFile::moveAside(m_path, QStringLiteral("corrupt"));
    if (value) {
        onDisk.insert(key, *value);
        m_announced.insert(key, *value);
    } else {
        onDisk.remove(key);
        m_announced.remove(key);
    }
    m_values = onDisk; // what another writer stored meanwhile is announced by the next reload
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    AtomicFile::write(m_path, QJsonDocument(onDisk).toJson(QJsonDocument::Indented), 0600);
    if (m_watcher) // also re-arms the watch should the folder have been made anew
        m_settle.start();
}

} // namespace norvela
