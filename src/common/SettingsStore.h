#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace norvela {

// The user's defaults database: a JSON file under $XDG_CONFIG_HOME/Norvela/.
// Values keep their type (bool, double, string, bytes); asking for a key with the wrong
// type answers "absent", so a hand-edited or corrupt value falls back to its default.
// Every assignment is written through at once, merged with what another process (the
// command-line tool) may have written meanwhile.
class SettingsStore {
public:
    explicit SettingsStore(QString filePath = defaultFilePath());

    static QString defaultFilePath();
    const QString& filePath() const { return m_path; }

    std::optional<bool> boolValue(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    bool contains(const QString& key) const { return m_values.contains(key); }

    void setBool(const QString& key, bool value);
    void setDouble(const QString& key, double value);
    void setString(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);
    void remove(const QString& key);

    // Re-reads the file, for readers that outlive a change made by another process.
    void reload();

private:
    void store(const QString& key, const std::optional<QJsonValue>& value);
    QJsonObject readFile(bool* corrupt) const;

    QString m_path;
    QJsonObject m_values;
};

} // namespace norvela
