#include "SettingsStore.h"

#include "AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

namespace norvela {

namespace {
// Bytes are stored as {"data": "<base64>"}: the only object-valued entries, so the four
// stored types never blur into each other.
const QString dataKey = QStringLiteral("data");

} // namespace

SettingsStore::SettingsStore(QString filePath) : m_path(std::move(filePath)) {
    reload();
}

QString SettingsStore::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Norvela/settings.json");
}

void SettingsStore::reload() {
    bool corrupt = false;
    m_values = readFile(&corrupt);
}

QJsonObject SettingsStore::readFile(bool* corrupt) const {
    *corrupt = false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject()) {
        *corrupt = true;
        return {};
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
    QJsonObject onDisk = readFile(&corrupt);
    if (corrupt) // keep the unreadable file for the user rather than writing over it
        AtomicFile::moveAside(m_path, QStringLiteral("corrupt"));
    if (value)
        onDisk.insert(key, *value);
    else
        onDisk.remove(key);
    m_values = onDisk;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    AtomicFile::write(m_path, QJsonDocument(onDisk).toJson(QJsonDocument::Indented), 0600);
}

} // namespace norvela
