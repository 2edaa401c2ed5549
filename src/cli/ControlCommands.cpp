#include "ControlCommands.h"

#include "Instance.h"

namespace norvela::cli {

namespace {

using namespace std::chrono_literals;

QCoro::Task<int> pauseOrResume(QString command, QStringList args, Io io) {
    if (args.size() > 1 || (!args.isEmpty() && args.first().startsWith(u'-')))
        co_return usageError(command, io);
    QJsonObject request{{QStringLiteral("cmd"), command}};
    if (!args.isEmpty())
        request.insert(QStringLiteral("key"), args.first());
    const Answer answer = co_await ask(request, 10s, false);
    if (answer.kind != Answer::Kind::answered)
        co_return reportFailure(answer, io.err);
    const QString verb =
        command == QLatin1String("pause") ? QStringLiteral("Paused") : QStringLiteral("Resumed");
    io.out << verb << ' ' << (args.isEmpty() ? QStringLiteral("every account") : args.first()) << ".\n";
    co_return Exit::success;
}

} // namespace

QCoro::Task<int> pauseCommand(QStringList args, Io io) {
    co_return co_await pauseOrResume(QStringLiteral("pause"), args, io);
}

QCoro::Task<int> resumeCommand(QStringList args, Io io) {
    co_return co_await pauseOrResume(QStringLiteral("resume"), args, io);
}

} // namespace norvela::cli
