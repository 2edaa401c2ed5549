// A settings file as found on disk, read through the store: every key answers as at most one
// of the four types, so a value never reads as something it was not stored as.
#include "FuzzSupport.h"
#include "common/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace norvela;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path =
        QDir::tempPath() +
        QStringLiteral("/norvela-fuzz-settings-%1.json").arg(QCoreApplication::applicationPid());
    const QByteArray input = fuzz::bytes(data, size);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            fuzz::broken("cannot write the settings file");
    }
    const SettingsStore store(path);
    const QJsonDocument doc = QJsonDocument::fromJson(input);
    if (!doc.isObject())
        return 0;
    for (const QString& key : doc.object().keys()) {
        if (!store.contains(key))
            fuzz::broken("a stored key is missing");
        const int answers = int(store.boolValue(key).has_value()) + int(store.doubleValue(key).has_value()) +
                            int(store.stringValue(key).has_value()) + int(store.dataValue(key).has_value());
        if (answers > 1)
            fuzz::broken("a value reads as two types");
    }
    return 0;
}
