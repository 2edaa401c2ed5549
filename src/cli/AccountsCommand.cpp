#include "AccountsCommand.h"

#include "cloud/ProviderKind.h"

#include <algorithm>

namespace norvela::cli {

QCoro::Task<int> accountsCommand(QStringList args, Io io) {
    if (!args.isEmpty()) {
        io.err << "usage: norvela accounts\n";
        co_return 2;
    }
    struct Row {
        QString key, kind, email;
    };
    QList<Row> rows;
    for (ProviderKind kind : ProviderKinds::all) {
        for (const TokenSlot& slot : ProviderKinds::tokenStore(kind).load())
            rows.append({slot.storageKey, ProviderKinds::id(kind),
                         slot.email.isEmpty() ? QStringLiteral("-") : slot.email});
    }
    if (rows.isEmpty()) {
        io.err << "No accounts linked.\n";
        co_return 0;
    }
    qsizetype keyWidth = 0, kindWidth = 0;
    for (const Row& row : rows) {
        keyWidth = std::max(keyWidth, row.key.size());
        kindWidth = std::max(kindWidth, row.kind.size());
    }
    for (const Row& row : rows)
        io.out << row.key.leftJustified(keyWidth) << "  " << row.kind.leftJustified(kindWidth) << "  "
               << row.email << '\n';
    co_return 0;
}

} // namespace norvela::cli
