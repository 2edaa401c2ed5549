#include "LsCommand.h"

#include "LinkedAccounts.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"
#include "common/Formatting.h"
#include "sync/SyncIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace norvela::cli {

QCoro::Task<int> lsCommand(QStringList args, Io io) {
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (args.size() > 1 || (!args.isEmpty() && args.first().startsWith(u'-')))
        co_return usageError(QStringLiteral("ls"), io);

    QStringList keys;
    if (!args.isEmpty()) {
        if (!findLinkedAccount(args.first(), io.err))
            co_return Exit::failure;
        keys.append(args.first());
    } else {
        for (ProviderKind kind : ProviderKinds::all)
            for (const TokenSlot& slot : ProviderKinds::tokenStore(kind).load())
                keys.append(slot.storageKey);
    }

    QJsonArray list;
    QList<QStringList> rows; // KEY (without a KEY argument), SIZE, SYNCED-AT, PATH
    for (const QString& key : keys) {
        const SyncIndex index(key);
        QStringList paths = index.entries().keys();
        std::sort(paths.begin(), paths.end());
        for (const QString& path : paths) {
            const SyncIndexEntry& entry = index.entries()[path];
            list.append(
                QJsonObject{{QStringLiteral("account"), key},
                            {QStringLiteral("path"), path},
                            {QStringLiteral("size"), entry.size},
                            {QStringLiteral("syncedAt"), entry.syncedAt.toUTC().toString(Qt::ISODate)}});
            rows.append({key, Formatting::byteCount(entry.size),
                         entry.syncedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), path});
        }
    }
    if (json) {
        io.out << QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)).trimmed() << '\n';
        co_return Exit::success;
    }
    qsizetype keyWidth = 0, sizeWidth = 0;
    for (const QStringList& row : rows) {
        keyWidth = std::max(keyWidth, row[0].size());
        sizeWidth = std::max(sizeWidth, row[1].size());
    }
    for (const QStringList& row : rows) {
        if (args.isEmpty())
            io.out << row[0].leftJustified(keyWidth) << "  ";
        io.out << row[1].rightJustified(sizeWidth) << "  " << row[2] << "  " << row[3] << '\n';
    }
    co_return Exit::success;
}

} // namespace norvela::cli
