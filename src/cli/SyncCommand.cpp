#include "SyncCommand.h"

#include "cloud/ProviderKind.h"
#include "common/SettingsStore.h"
#include "control/ControlServer.h"
#include "control/InstanceLock.h"
#include "engines/StandardEngines.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppControl.h"
#include "models/AppModel.h"
#include "platform/DesktopServices.h"

#include <QSocketNotifier>
#include <QTimer>

#include <QCoro/QCoroSignal>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace norvela::cli {

namespace {

using namespace std::chrono_literals;

// Tries a file failing for a passing reason gets within one pass (about 9 s of back-off).
constexpr int onePassAttempts = 3;

// SIGINT and SIGTERM arrive on a socket the event loop watches: the handler itself may do
// nothing but write.
int g_signalFds[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalFds[0], &byte, 1);
}

class StopSignals : public QObject {
    Q_OBJECT
public:
    StopSignals() {
        if (g_signalFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
            return;
        m_notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            char byte;
            [[maybe_unused]] const auto read = ::read(g_signalFds[1], &byte, 1);
            Q_EMIT received();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~StopSignals() override {
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
Q_SIGNALS:
    void received();

private:
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

// Ends the command; waiters resume from the event loop.
class Outcome : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void decided();
};

// Why an account will not sync until the user acts, or nothing.
std::optional<QString> refusal(const AccountModel& account) {
    switch (account.status().note) {
    case SyncStatus::Note::largeFolder:
        return account.lastSyncedDescription() + QStringLiteral(" (approve it in the app first)");
    case SyncStatus::Note::unsafeFolder:
    case SyncStatus::Note::mignoreUnreadable:
    case SyncStatus::Note::folderMissing:
        return account.lastSyncedDescription() + QStringLiteral(": ") +
               account.lastDebugError().value_or(QString());
    case SyncStatus::Note::relink:
    case SyncStatus::Note::quotaFull:
        return account.lastSyncedDescription();
    default:
        return std::nullopt;
    }
}

bool settled(const AccountModel& account) {
    const auto* engine = qobject_cast<const UploadSyncEngine*>(account.engine());
    return engine && engine->isSettled() && account.syncState() == SyncState::idle;
}

// Prints a line per file uploaded (done of total, with the rate) and each change of the
// account's status line; failures reach the system log, which is stderr here.
void report(AccountModel* account, Io io) {
    const QString key = account->id();
    QObject::connect(account, &AccountModel::filesDoneChanged, account, [account, key, io] {
        if (account->filesDone() < 1 || account->currentFile().isEmpty())
            return;
        io.out << key << ": " << account->filesDone() << '/' << account->filesTotal() << "  "
               << account->currentFile();
        if (!account->transferRate().isEmpty())
            io.out << "  " << account->transferRate();
        io.out << '\n';
        io.out.flush();
    });
    QObject::connect(account, &AccountModel::lastSyncedDescriptionChanged, account, [account, key, io] {
        io.out << key << ": " << account->lastSyncedDescription() << '\n';
        io.out.flush();
    });
}

} // namespace

QCoro::Task<int> syncCommand(QStringList args, Io io) {
    const bool once = args.removeAll(QStringLiteral("--once")) > 0;
    if (!args.isEmpty()) {
        co_return usageError(QStringLiteral("sync"), io);
    }
    // Two processes uploading one account would race on its index: one Norvela per user.
    auto lock = InstanceLock::acquire();
    if (const auto* held = std::get_if<InstanceLock::Held>(&lock)) {
        io.err << QString::fromUtf8("Norvela is already running (pid %1) \u2014 use `norvela status`\n")
                      .arg(held->pid);
        co_return Exit::alreadyRunning;
    }
    if (const auto* error = std::get_if<QString>(&lock)) {
        io.err << "norvela: " << *error << '\n';
        co_return Exit::failure;
    }
    bool anyLinked = false;
    for (ProviderKind kind : ProviderKinds::all)
        anyLinked = anyLinked || !ProviderKinds::tokenStore(kind).load().isEmpty();
    if (!anyLinked) {
        io.err << "norvela: no accounts are linked (see 'norvela link')\n";
        co_return 1;
    }

    SettingsStore settings;
    AppModel model(settings, standardEngines(), DesktopServices::system());
    // `norvela status`, `pause`, `share`… from other terminals reach this process.
    AppControl control(model);
    ControlServer server([&control](QJsonObject request) { return control.handle(std::move(request)); });
    if (QString error; !server.listen(&error))
        io.err << "norvela: other commands cannot reach this one: " << error << '\n';
    for (AccountModel* account : model.accounts()) {
        io.out << account->id() << ": syncing " << account->folderPath() << '\n';
        report(account, io);
        // One pass must end: a file still failing after a few tries is reported, not retried for ever.
        if (auto* engine = qobject_cast<UploadSyncEngine*>(account->engine()); engine && once)
            engine->setGiveUpAfter(onePassAttempts);
    }
    io.out.flush();

    Outcome outcome;
    int exitCode = -1;
    auto finish = [&](int code) {
        if (exitCode < 0) {
            exitCode = code;
            Q_EMIT outcome.decided();
        }
    };
    StopSignals stop;
    QObject::connect(&stop, &StopSignals::received, &outcome, [&] {
        io.err << "norvela: stopping\n";
        finish(130);
    });
    const auto check = [&] {
        if (!once)
            return;
        for (const AccountModel* account : model.accounts()) {
            if (const auto reason = refusal(*account)) {
                io.err << "norvela: " << account->id() << " refused: " << *reason << '\n';
                finish(3);
                return;
            }
        }
        if (!std::all_of(model.accounts().cbegin(), model.accounts().cend(),
                         [](const AccountModel* a) { return settled(*a); }))
            return;
        bool parked = false;
        for (const AccountModel* account : model.accounts()) {
            for (const SyncStatus::ParkedFile& file : account->status().parked) {
                if (!parked)
                    io.err << "norvela: these files were not uploaded:\n";
                parked = true;
                io.err << "  " << account->id() << ": " << file.relativePath << QString::fromUtf8(" \u2014 ")
                       << file.reason << '\n';
            }
        }
        if (parked) {
            finish(Exit::notAllUploaded);
            return;
        }
        io.out << "All accounts up to date.\n";
        finish(0);
    };
    // Checked when an engine settles or a status changes, once their signals have all gone
    // out; and on a slow timer too, for a way of settling neither signal announces.
    QTimer soon;
    soon.setSingleShot(true);
    QObject::connect(&soon, &QTimer::timeout, &outcome, check);
    const auto checkSoon = [&soon] { soon.start(0); };
    for (AccountModel* account : model.accounts()) {
        QObject::connect(account, &AccountModel::statusChanged, &outcome, checkSoon);
        if (auto* engine = qobject_cast<UploadSyncEngine*>(account->engine()))
            QObject::connect(engine, &UploadSyncEngine::settled, &outcome, checkSoon);
    }
    QTimer backstop;
    QObject::connect(&backstop, &QTimer::timeout, &outcome, check);
    backstop.start(1s);

    co_await qCoro(&outcome, &Outcome::decided);
    io.out.flush();
    io.err.flush();
    co_return exitCode;
}

} // namespace norvela::cli

#include "SyncCommand.moc"
