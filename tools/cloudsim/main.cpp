// norvela-cloudsim: a local stand-in for the Dropbox and Google services Norvela uses.
#include "CloudSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvela-cloudsim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the Dropbox and Google endpoints Norvela uses on one loopback base URL:\n"
        "  /dropbox/www /dropbox/api /dropbox/content /google/accounts /google/oauth2 /google/www\n"
        "the release feed /updates/appcast.xml,\n"
        "and an admin interface under /_admin (accounts, requests, counts, faults, reset)."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port on 127.0.0.1 (default 47650)."),
                                  QStringLiteral("port"), QStringLiteral("47650"));
    const QCommandLineOption state(
        QStringLiteral("state"),
        QStringLiteral("Keep accounts, tokens and stored files in DIR across restarts."),
        QStringLiteral("DIR"));
    parser.addOption(port);
    parser.addOption(state);
    parser.process(app);

    cloudsim::CloudSim::Options options;
    bool ok = false;
    options.port = quint16(parser.value(port).toUInt(&ok));
    if (!ok) {
        std::fprintf(stderr, "norvela-cloudsim: bad port '%s'\n", qPrintable(parser.value(port)));
        return 2;
    }
    options.stateDir = parser.value(state);
    cloudsim::CloudSim sim(options);
    if (!sim.start()) {
        std::fprintf(stderr, "norvela-cloudsim: cannot listen on 127.0.0.1:%u: %s\n", unsigned(options.port),
                     qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("norvela-cloudsim listening on %s%s\n", qPrintable(sim.baseUrl()),
                options.stateDir.isEmpty() ? " (state in memory)"
                                           : qPrintable(" (state in " + options.stateDir + ")"));
    std::fflush(stdout);
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
