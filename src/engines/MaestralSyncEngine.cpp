#include "MaestralSyncEngine.h"

#include "MaestralOutput.h"

#include "common/AccountInfo.h"
#include "common/Clock.h"
#include "common/RecentFile.h"
#include "models/AppModel.h"
#include "models/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <QCoro/QCoroSignal>

#include <unistd.h>

namespace norvela {

namespace {

const QString statusCommand = QStringLiteral("status");
const QString historyCommand = QStringLiteral("history");

// "status" and "history" print a few lines; anything this large is not the client talking.
constexpr qsizetype maxOutputBytes = 8 * 1024 * 1024;

// One run of the client: standard output collected, standard error dropped. done() is
// emitted once, when the process has exited, could not be launched, or was killed for
// taking too long or printing too much. Destroying a run kills a child still running.
class ClientRun : public QObject {
    Q_OBJECT
public:
    ClientRun(Clock& clock, QObject* parent) : QObject(parent), m_clock(clock) {
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        connect(&m_process, &QProcess::readyReadStandardOutput, this, &ClientRun::collect);
        connect(&m_process, &QProcess::finished, this, [this] {
            collect();
            finish();
        });
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return; // a crash still ends in finished()
            m_usable = false;
            finish();
        });
    }

    ~ClientRun() override {
        m_process.disconnect(this);
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(1000); // reaps it; SIGKILL leaves nothing to wait for
        }
    }

    void start(const QString& program, const QStringList& arguments) {
        m_killTimer = m_clock.schedule(MaestralSyncEngine::runTimeout, false, [this] { abandon(); });
        m_process.start(program, arguments, QIODevice::ReadOnly);
    }

    bool isDone() const { return m_done; }

    std::optional<QString> output() const {
        if (!m_usable)
            return std::nullopt;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(m_output);
        if (decoder.hasError())
            return std::nullopt;
        return text;
    }

Q_SIGNALS:
    void done();

private:
    void collect() {
        const QByteArray chunk = m_process.readAllStandardOutput();
        if (!m_usable)
            return;
        m_output += chunk;
        if (m_output.size() > maxOutputBytes)
            abandon();
    }

    // The process is killed; finished() follows from the event loop.
    void abandon() {
        m_usable = false;
        m_output.clear();
        m_process.kill();
    }

    void finish() {
        if (m_done)
            return;
        m_done = true;
        m_killTimer.reset();
        Q_EMIT done();
    }

    Clock& m_clock;
    QProcess m_process;
    QByteArray m_output;
    std::unique_ptr<ClockTimer> m_killTimer;
    bool m_usable = true;
    bool m_done = false;
};

class Wake : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void fired();
};

// Resumes once `run` is done or destroyed, always from the event loop: never from inside
// the destructor of the engine that owns it.
QCoro::Task<> untilDone(QPointer<ClientRun> run) {
    if (!run || run->isDone())
        co_return;
    Wake wake;
    QObject::connect(run, &ClientRun::done, &wake, &Wake::fired, Qt::QueuedConnection);
    QObject::connect(run, &QObject::destroyed, &wake, &Wake::fired, Qt::QueuedConnection);
    co_await qCoro(&wake, &Wake::fired);
}

// Built outside the coroutines: g++ 12 rejects an initializer list inside a co_await.
QStringList commandLine(const QString& command) {
    return {command};
}

} // namespace

const QStringList& MaestralSyncEngine::candidatePaths() {
    static const QStringList paths{QStringLiteral("/opt/homebrew/bin/maestral"),
                                   QStringLiteral("/usr/local/bin/maestral"),
                                   QDir::homePath() + QStringLiteral("/.local/bin/maestral")};
    return paths;
}

std::unique_ptr<MaestralSyncEngine> MaestralSyncEngine::create(Clock& clock, const QStringList& candidates) {
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0)
            return std::unique_ptr<MaestralSyncEngine>(new MaestralSyncEngine(clock, path));
    }
    return nullptr;
}

MaestralSyncEngine::MaestralSyncEngine(Clock& clock, QString binaryPath)
    : m_clock(clock), m_binaryPath(std::move(binaryPath)) {}

// Runs still under way are children and die with the engine; their awaiting coroutines
// wake from the event loop and find the engine gone.
MaestralSyncEngine::~MaestralSyncEngine() = default;

void MaestralSyncEngine::start(AppModel* model) {
    m_model = model;
    m_pollContext = std::make_unique<QObject>();
    pollLoop(m_pollContext.get());
}

void MaestralSyncEngine::pause() {
    if (m_model && m_model->syncState() != SyncState::paused)
        m_model->setSyncState(SyncState::paused);
    runDetached(QStringLiteral("pause"));
}

void MaestralSyncEngine::resume() {
    if (m_model && m_model->syncState() != SyncState::idle)
        m_model->setSyncState(SyncState::idle);
    runDetached(QStringLiteral("resume"));
}

void MaestralSyncEngine::runDetached(const QString& command) {
    // Not owned by the engine: the model pauses the engine right before dropping it, and
    // that pause must still reach the client.
    auto* client = new ClientRun(m_clock, QCoreApplication::instance());
    connect(client, &ClientRun::done, client, &QObject::deleteLater);
    client->start(m_binaryPath, {command});
}

QCoro::Task<> MaestralSyncEngine::pollLoop(QPointer<QObject> context) {
    QPointer<MaestralSyncEngine> self(this);
    Clock& clock = m_clock;
    while (self && context) {
        co_await self->refresh();
        if (!self || !context)
            co_return;
        if (!co_await clock.sleep(pollInterval, context))
            co_return;
    }
}

QCoro::Task<std::optional<QString>> MaestralSyncEngine::run(QStringList arguments) {
    QPointer<MaestralSyncEngine> self(this);
    QPointer<ClientRun> client = new ClientRun(m_clock, this);
    ++m_runsInFlight;
    client->start(m_binaryPath, arguments);
    co_await untilDone(client);
    if (!self)
        co_return std::nullopt;
    --m_runsInFlight;
    std::optional<QString> output = client ? client->output() : std::nullopt;
    delete client.data();
    co_return output;
}

QCoro::Task<> MaestralSyncEngine::refresh() {
    QPointer<MaestralSyncEngine> self(this);
    if (!m_model)
        co_return;
    const std::optional<QString> output = co_await run(commandLine(statusCommand));
    if (!self || !output || !m_model)
        co_return;
    applyStatus(*output);
    co_await refreshHistory();
}

void MaestralSyncEngine::applyStatus(const QString& output) {
    const MaestralOutput::Status status = MaestralOutput::parseStatus(output);
    m_model->setSyncState(status.state);
    if (status.state == SyncState::idle)
        m_model->setLastSyncedDescription(QStringLiteral("Last synced just now"));
    if (status.account)
        m_model->setAccount(*status.account);
}

QCoro::Task<> MaestralSyncEngine::refreshHistory() {
    QPointer<MaestralSyncEngine> self(this);
    if (!m_model)
        co_return;
    const std::optional<QString> output = co_await run(commandLine(historyCommand));
    if (!self || !output || !m_model)
        co_return;

    const QList<RecentFile> records =
        MaestralOutput::parseHistory(*output, Paths::expandTilde(m_model->folderPath()), m_clock.now());
    if (!records.isEmpty())
        m_model->setRecentFiles(records);
}

} // namespace norvela

#include "MaestralSyncEngine.moc"
