#include "Cli.h"

#include "AccountsCommand.h"
#include "FolderCommand.h"
#include "HashCommand.h"
#include "LinkCommands.h"
#include "ScanCommands.h"
#include "SyncCommand.h"

namespace norvela::cli {

namespace {

void printHelp(QTextStream& out) {
    out << "usage: norvela COMMAND [ARGS...]\n\n"
        << "Keeps one local folder per linked cloud account uploaded.\n\nCommands:\n";
    for (const Command& c : commands())
        out << "  " << QStringLiteral("%1 %2").arg(c.name, c.synopsis).leftJustified(40) << c.summary << '\n';
    out << "\n  " << QStringLiteral("--version").leftJustified(40) << "print the version\n"
        << "  " << QStringLiteral("--help").leftJustified(40) << "show this help\n";
}

} // namespace

const QList<Command>& commands() {
    static const QList<Command> table{
        {QStringLiteral("accounts"), QString(), QStringLiteral("list the linked accounts"), accountsCommand},
        {QStringLiteral("hash"), QStringLiteral("dropbox|md5 FILE..."),
         QStringLiteral("print the content hash each service reports for FILE"), hashCommand},
        {QStringLiteral("link"), QStringLiteral("dropbox|gdrive [--no-browser]"),
         QStringLiteral("link an account in the browser (or print the URL to open)"), linkCommand},
        {QStringLiteral("unlink"), QStringLiteral("ACCOUNT_KEY"),
         QStringLiteral("revoke and forget a linked account"), unlinkCommand},
        {QStringLiteral("folder"), QStringLiteral("ACCOUNT_KEY [PATH]"),
         QStringLiteral("show or set the account's local folder"), folderCommand},
        {QStringLiteral("sync"), QStringLiteral("[--once]"),
         QStringLiteral("upload every linked account's folder, without the app"), syncCommand},
        {QStringLiteral("scan"), QStringLiteral("FOLDER [--count]"),
         QStringLiteral("list the files that would sync from FOLDER"), scanCommand},
        {QStringLiteral("check-ignore"), QStringLiteral("FOLDER PATH..."),
         QStringLiteral("print each PATH that FOLDER's .mignore ignores"), checkIgnoreCommand},
    };
    return table;
}

QCoro::Task<int> run(QStringList args, Io io) {
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h") ||
        args.first() == QLatin1String("help")) {
        printHelp(args.isEmpty() ? io.err : io.out);
        co_return args.isEmpty() ? 2 : 0;
    }
    if (args.first() == QLatin1String("--version")) {
        io.out << "norvela " << NORVELA_VERSION << '\n';
        co_return 0;
    }
    const QString name = args.takeFirst();
    for (const Command& command : commands()) {
        if (command.name == name)
            co_return co_await command.run(args, io);
    }
    io.err << "norvela: unknown command '" << name << "' (see 'norvela --help')\n";
    co_return 2;
}

} // namespace norvela::cli
