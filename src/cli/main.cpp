// The `norvela` command-line tool.
#include "Cli.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Norvela"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    int exitCode = 0;
    bool finished = false;
    auto runner = [&]() -> QCoro::Task<> {
        exitCode = co_await norvela::cli::run(app.arguments().mid(1), {out, err});
        out.flush();
        err.flush();
        finished = true;
        QTimer::singleShot(0, &app, [&] { QCoreApplication::exit(exitCode); });
    };
    auto task = runner();
    // Commands that finish without waiting never start the event loop.
    return finished ? exitCode : app.exec();
}
