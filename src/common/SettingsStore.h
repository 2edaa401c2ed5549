#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

class QFileSystemWatcher;

namespace norvela {

// The user's defaults database: a JSON file under $XDG_CONFIG_HOME/Norvela/.
// Values keep their type (bool, double, string, bytes); asking for a key with the wrong
// type answers "absent", so a hand-edited or corrupt value falls back to its default.
// Every assignment is written through at once, merged with what another process (the
// command-line tool) may have written meanwhile. A file that cannot be read or parsed never
// takes the values this store last read away.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    explicit SettingsStore(QString filePath = defaultFilePath(), QObject* parent = nullptr);

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

    // Re-reads the file, for readers that outlive a change made by another process, and
    // announces what changed. A missing, damaged or half-written file changes nothing.
    void reload();
    // From now on notices another process (the command-line tool, an editor) replacing or
    // rewriting the file, and reloads shortly after. Creates the file's folder if need be.
    void watch();

Q_SIGNALS:
    // The keys whose values another writer added, changed or removed, in one batch per
    // reload; never a key only this store wrote.
    void changedElsewhere(const QStringList& keys);

private:
    void store(const QString& key, const std::optional<QJsonValue>& value);
    // None when the file is missing or (with `corrupt` set) not a JSON object.
    std::optional<QJsonObject> readFile(bool* corrupt) const;
    void rewatch();

    QString m_path;
    QJsonObject m_values;
    // The values listeners know: as last announced, with this store's own writes.
    QJsonObject m_announced;
    QFileSystemWatcher* m_watcher = nullptr; // made by watch(): each holds an inotify instance
    QTimer m_settle;
};

} // namespace norvela
