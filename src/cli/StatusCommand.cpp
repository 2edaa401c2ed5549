#include "StatusCommand.h"

#include "Instance.h"
#include "common/SettingsStore.h"
#include "models/AppControl.h"
#include "models/Paths.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace norvela::cli {

namespace {

using namespace std::chrono_literals;

QString text(const QJsonValue& value) {
    return value.isString() ? value.toString() : QString();
}

void printAccount(const QJsonObject& account, bool running, QTextStream& out) {
    const QString email = text(account.value(QStringLiteral("email")));
    out << text(account.value(QStringLiteral("key"))) << "  ("
        << text(account.value(QStringLiteral("service")));
    if (!email.isEmpty())
        out << ", " << email;
    out << ")\n";
    out << "  folder:   " << Paths::abbreviateHome(text(account.value(QStringLiteral("folder")))) << '\n';
    if (running) {
        QString state = text(account.value(QStringLiteral("state")));
        if (const QString reason = text(account.value(QStringLiteral("reason"))); !reason.isEmpty())
            state += QStringLiteral(" (") + reason + QLatin1Char(')');
        const int done = account.value(QStringLiteral("filesDone")).toInt();
        const int total = account.value(QStringLiteral("filesTotal")).toInt();
        if (total > 0 && state.startsWith(QLatin1String("syncing")))
            state += QStringLiteral(", %1 of %2 files").arg(done).arg(total);
        if (const QString file = text(account.value(QStringLiteral("currentFile"))); !file.isEmpty())
            state += QString::fromUtf8(" \u2014 ") + file;
        out << "  state:    " << state << '\n';
        out << "  status:   " << text(account.value(QStringLiteral("lastSynced"))) << '\n';
        const QJsonArray parked = account.value(QStringLiteral("parked")).toArray();
        for (const QJsonValue file : parked)
            out << "  not uploaded: " << file.toObject().value(QStringLiteral("path")).toString()
                << QString::fromUtf8(" \u2014 ") << file.toObject().value(QStringLiteral("reason")).toString()
                << '\n';
        if (const int more = account.value(QStringLiteral("parkedCount")).toInt() - int(parked.size());
            more > 0)
            out << "  and " << more << " more not uploaded\n";
    }
    const int indexed = account.value(QStringLiteral("indexedFiles")).toInt();
    out << "  uploaded: " << indexed << (indexed == 1 ? " file" : " files") << '\n';
}

void print(const QJsonObject& status, bool running, bool json, QTextStream& out) {
    if (json) {
        const QJsonObject document{{QStringLiteral("running"), running},
                                   {QStringLiteral("accounts"), status.value(QStringLiteral("accounts"))}};
        out << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)).trimmed() << '\n';
        return;
    }
    if (!running)
        out << "Norvela is not running.\n";
    const QJsonArray accounts = status.value(QStringLiteral("accounts")).toArray();
    if (accounts.isEmpty())
        out << "No accounts linked (see 'norvela link').\n";
    for (qsizetype i = 0; i < accounts.size(); ++i) {
        if (i > 0 || !running)
            out << '\n';
        printAccount(accounts[i].toObject(), running, out);
    }
}

} // namespace

QCoro::Task<int> statusCommand(QStringList args, Io io) {
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (!args.isEmpty())
        co_return usageError(QStringLiteral("status"), io);

    // Named first: g++ 12 cannot build this object inside a co_await expression.
    const QJsonObject request{{QStringLiteral("cmd"), QStringLiteral("status")}};
    const Answer answer = co_await ask(request, 10s, false);
    if (answer.kind == Answer::Kind::refused)
        co_return reportFailure(answer, io.err);
    const bool running = answer.kind == Answer::Kind::answered;
    SettingsStore settings;
    print(running ? answer.reply : AppControl::offlineStatus(settings), running, json, io.out);
    co_return running ? Exit::success : Exit::notRunning;
}

} // namespace norvela::cli
