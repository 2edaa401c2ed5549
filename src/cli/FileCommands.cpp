#include "FileCommands.h"

#include "Instance.h"
#include "models/Paths.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace norvela::cli {

namespace {

using namespace std::chrono_literals;

// Long enough for a large version to come down and be written.
constexpr auto transferTimeout = 30min;

bool isOption(const QString& arg) {
    return arg.startsWith(u'-') && arg.size() > 1;
}

// The running app resolves paths in its own working directory: send absolute ones.
QString absolute(const QString& path) {
    return Paths::standardized(QFileInfo(Paths::expandTilde(path)).absoluteFilePath());
}

} // namespace

QCoro::Task<int> shareCommand(QStringList args, Io io) {
    if (args.size() != 1 || isOption(args.first()))
        co_return usageError(QStringLiteral("share"), io);
    const QJsonObject request{{QStringLiteral("cmd"), QStringLiteral("share")},
                              {QStringLiteral("path"), absolute(args.first())}};
    const Answer answer = co_await ask(request, transferTimeout, true);
    if (answer.kind != Answer::Kind::answered)
        co_return reportFailure(answer, io.err);
    // Printed rather than put on the clipboard: an X11 clipboard dies with this process.
    io.out << answer.reply.value(QStringLiteral("link")).toString() << '\n';
    co_return Exit::success;
}

QCoro::Task<int> versionsCommand(QStringList args, Io io) {
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (args.size() != 1 || isOption(args.first()))
        co_return usageError(QStringLiteral("versions"), io);
    const QJsonObject request{{QStringLiteral("cmd"), QStringLiteral("versions")},
                              {QStringLiteral("path"), absolute(args.first())}};
    const Answer answer = co_await ask(request, transferTimeout, true);
    if (answer.kind != Answer::Kind::answered)
        co_return reportFailure(answer, io.err);
    const QJsonArray versions = answer.reply.value(QStringLiteral("versions")).toArray();
    if (json) {
        io.out << QString::fromUtf8(QJsonDocument(versions).toJson(QJsonDocument::Indented)).trimmed()
               << '\n';
        co_return Exit::success;
    }
    qsizetype idWidth = 0;
    for (const QJsonValue v : versions)
        idWidth = std::max(idWidth, v.toObject().value(QStringLiteral("id")).toString().size());
    for (const QJsonValue v : versions) {
        const QJsonObject version = v.toObject();
        const QDateTime modified =
            QDateTime::fromString(version.value(QStringLiteral("modified")).toString(), Qt::ISODate);
        io.out << version.value(QStringLiteral("id")).toString().leftJustified(idWidth) << "  "
               << modified.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "  "
               << QString::number(version.value(QStringLiteral("size")).toInteger()).rightJustified(12)
               << (version.value(QStringLiteral("current")).toBool() ? "  current" : "") << '\n';
    }
    co_return Exit::success;
}

QCoro::Task<int> restoreCommand(QStringList args, Io io) {
    if (args.size() != 2 || isOption(args[0]) || isOption(args[1]))
        co_return usageError(QStringLiteral("restore"), io);
    const QJsonObject request{{QStringLiteral("cmd"), QStringLiteral("restore")},
                              {QStringLiteral("path"), absolute(args[0])},
                              {QStringLiteral("version"), args[1]}};
    // Here it writes the index, which only one Norvela at a time may do.
    const Answer answer = co_await ask(request, transferTimeout, true, true);
    if (answer.kind != Answer::Kind::answered)
        co_return reportFailure(answer, io.err);
    io.out << answer.reply.value(QStringLiteral("status")).toString() << '\n';
    co_return Exit::success;
}

} // namespace norvela::cli
