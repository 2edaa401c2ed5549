#include "Cli.h"

#include "AccountsCommand.h"
#include "ControlCommands.h"
#include "FileCommands.h"
#include "FolderCommand.h"
#include "HashCommand.h"
#include "LinkCommands.h"
#include "LsCommand.h"
#include "ScanCommands.h"
#include "StatusCommand.h"
#include "SyncCommand.h"

namespace norvela::cli {

namespace {

void printHelp(QTextStream& out) {
    out << "usage: norvela COMMAND [ARGS...]\n\n"
        << "Keeps one local folder per linked cloud account uploaded.\n\nCommands:\n";
    for (const Command& c : commands())
        out << "  " << QStringLiteral("%1 %2").arg(c.name, c.synopsis).leftJustified(40) << c.summary << '\n';
    out << "\n  " << QStringLiteral("--version").leftJustified(40) << "print the version\n"
        << "  " << QStringLiteral("--help").leftJustified(40) << "show this help\n"
        << "\nEach command takes --help. Exit status: 0 success, 1 failure, 2 usage error,\n"
        << "3 Norvela is not running where it must be (or a folder is refused), 4 another\n"
        << "Norvela is running, 5 some files could not be uploaded.\n";
}

QString usageLine(const Command& command) {
    return (QStringLiteral("usage: norvela ") + command.name + QLatin1Char(' ') + command.synopsis).trimmed();
}

const Command* find(const QString& name) {
    for (const Command& command : commands())
        if (command.name == name)
            return &command;
    return nullptr;
}

// Texts shared by the commands that talk to the running Norvela.
const QString runningNote =
    QStringLiteral("Talks to the running Norvela (the app or 'norvela sync'); exits 3 when none runs.\n");
const QString fileNote =
    QStringLiteral("PATH is a file inside a linked account's folder. Asks the running Norvela when there\n"
                   "is one, and the service directly otherwise.\n");

} // namespace

const QList<Command>& commands() {
    static const QList<Command> table{
        {QStringLiteral("accounts"), QString(), QStringLiteral("list the linked accounts"),
         QStringLiteral("Prints KEY  KIND  EMAIL for each linked account, Dropbox accounts first.\n"
                        "KEY names the account in the other commands.\n"),
         accountsCommand},
        {QStringLiteral("status"), QStringLiteral("[--json]"),
         QStringLiteral("each account's state in the running Norvela"),
         QStringLiteral("Prints each account's folder, state, current file and status line. When\n"
                        "Norvela is not running, prints what its files say (accounts, folders,\n"
                        "uploaded counts) and exits 3.\n\n"
                        "  --json    one JSON object: {\"running\", \"accounts\": [{\"key\", \"kind\",\n"
                        "            \"email\", \"folder\", \"state\", \"reason\", \"filesDone\",\n"
                        "            \"filesTotal\", \"currentFile\", \"lastSynced\", \"indexedFiles\"}]}\n"),
         statusCommand},
        {QStringLiteral("pause"), QStringLiteral("[KEY]"),
         QStringLiteral("pause uploads (every account, or KEY)"),
         QStringLiteral("Uploads wait until 'norvela resume'; the folders are still watched.\n") +
             runningNote,
         pauseCommand},
        {QStringLiteral("resume"), QStringLiteral("[KEY]"),
         QStringLiteral("resume uploads (every account, or KEY)"), runningNote, resumeCommand},
        {QStringLiteral("share"), QStringLiteral("PATH"), QStringLiteral("print a shared link to PATH"),
         fileNote + QStringLiteral("A file that has not been uploaded yet cannot be shared (exit 1).\n"),
         shareCommand},
        {QStringLiteral("versions"), QStringLiteral("PATH [--json]"),
         QStringLiteral("list PATH's versions in the cloud, newest first"),
         QStringLiteral("Prints ID  MODIFIED  SIZE per version; the first is the current one.\n") + fileNote +
             QStringLiteral("\n  --json    a list of {\"id\", \"modified\", \"size\", \"current\"}\n"),
         versionsCommand},
        {QStringLiteral("restore"), QStringLiteral("PATH VERSION_ID"),
         QStringLiteral("make an earlier version current, in the cloud and locally"),
         QStringLiteral("VERSION_ID comes from 'norvela versions PATH'. The cloud and the local file\n"
                        "both hold that version afterwards; the local file is not uploaded again.\n") +
             fileNote,
         restoreCommand},
        {QStringLiteral("ls"), QStringLiteral("[KEY] [--json]"),
         QStringLiteral("list what an account has uploaded"),
         QStringLiteral("Prints SIZE  SYNCED-AT  PATH for each file the account's index records (every\n"
                        "account's, led by its KEY, without KEY).\n\n"
                        "  --json    a list of {\"account\", \"path\", \"size\", \"syncedAt\"}\n"),
         lsCommand},
        {QStringLiteral("link"), QStringLiteral("dropbox|gdrive [--no-browser]"),
         QStringLiteral("link an account in the browser (or print the URL to open)"),
         QStringLiteral("Opens the service's sign-in page and waits up to five minutes for approval.\n\n"
                        "  --no-browser    print the sign-in URL instead of opening it\n"),
         linkCommand},
        {QStringLiteral("unlink"), QStringLiteral("KEY"),
         QStringLiteral("revoke and forget a linked account"),
         QStringLiteral("The folder, its files and the account's settings stay.\n"), unlinkCommand},
        {QStringLiteral("folder"), QStringLiteral("KEY [PATH]"),
         QStringLiteral("show or set the account's local folder"),
         QStringLiteral("Without PATH prints the folder; with PATH makes it the account's folder.\n"
                        "The home folder, its parents and / are refused.\n"),
         folderCommand},
        {QStringLiteral("sync"), QStringLiteral("[--once]"),
         QStringLiteral("upload every linked account's folder, without the app"),
         QStringLiteral("Runs until interrupted, printing each upload. Exits 4 when another Norvela\n"
                        "runs.\n\n"
                        "  --once    end after the first full pass: exit 0 when everything is up, 5\n"
                        "            listing the files that could not be uploaded (refused by the\n"
                        "            service, or still failing after a few tries), 3 naming an\n"
                        "            account that is refused or must be relinked\n"),
         syncCommand},
        {QStringLiteral("scan"), QStringLiteral("FOLDER [--count]"),
         QStringLiteral("list the files that would sync from FOLDER"),
         QStringLiteral("Lists the files below FOLDER that would sync under its .mignore, one per line,\n"
                        "sorted by their UTF-8 bytes. Hidden files, symbolic links and ignored files are\n"
                        "left out.\n\n"
                        "  --count    print only the number of files\n\n"
                        "Exit status: 0 listed, 1 FOLDER cannot be read, 2 usage error.\n"),
         scanCommand},
        {QStringLiteral("check-ignore"), QStringLiteral("FOLDER PATH..."),
         QStringLiteral("print each PATH that FOLDER's .mignore ignores"),
         QStringLiteral("Prints each PATH (relative to FOLDER) that FOLDER's .mignore keeps from syncing,\n"
                        "one per line, in the order given. A PATH below an ignored directory counts as\n"
                        "ignored, since the scan never enters that directory. A PATH ending in \"/\" is\n"
                        "tested as a directory; otherwise it is one when it is a directory under FOLDER.\n"
                        "Only .mignore is asked: hidden names, which never sync, are printed only when a\n"
                        "rule matches them.\n\n"
                        "Exit status: 0 some PATH is ignored, 1 none is or FOLDER cannot be read,\n"
                        "2 usage error (including a PATH outside FOLDER).\n"),
         checkIgnoreCommand},
        {QStringLiteral("hash"), QStringLiteral("dropbox|md5 FILE..."),
         QStringLiteral("print the content hash each service reports for FILE"),
         QStringLiteral("Prints HASH  FILE per file: the Dropbox content hash, or the MD5 that Google\n"
                        "Drive reports.\n"),
         hashCommand},
    };
    return table;
}

int usageError(const QString& name, Io io) {
    if (const Command* command = find(name))
        io.err << usageLine(*command) << "\n(see 'norvela " << name << " --help')\n";
    return Exit::usage;
}

QCoro::Task<int> run(QStringList args, Io io) {
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h") ||
        args.first() == QLatin1String("help")) {
        printHelp(args.isEmpty() ? io.err : io.out);
        co_return args.isEmpty() ? Exit::usage : Exit::success;
    }
    if (args.first() == QLatin1String("--version")) {
        io.out << "norvela " << NORVELA_VERSION << '\n';
        co_return Exit::success;
    }
    const QString name = args.takeFirst();
    const Command* command = find(name);
    if (!command) {
        io.err << "norvela: unknown command '" << name << "' (see 'norvela --help')\n";
        co_return Exit::usage;
    }
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        io.out << usageLine(*command) << "\n\n" << command->help;
        co_return Exit::success;
    }
    co_return co_await command->run(args, io);
}

} // namespace norvela::cli
