#include "MaestralSyncEngine.h"

#include "common/AccountInfo.h"
#include "common/Clock.h"
#include "common/RecentFile.h"
#include "models/AppModel.h"
#include "models/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStringDecoder>
#include <QUrl>

#include <QCoro/QCoroSignal>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

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

QString trimSpacesAndTabs(const QString& text) {
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// First letter of every white-space separated word upper case, the rest lower case.
QString capitalized(const QString& text) {
    QString result;
    result.reserve(text.size());
    bool wordStart = true;
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QString character = text.mid(i, pair ? 2 : 1);
        i += character.size();
        if (character.front().isSpace()) {
            result += character;
            wordStart = true;
        } else {
            result += wordStart ? character.toUpper() : character.toLower();
            wordStart = false;
        }
    }
    return result;
}

QString lastPathComponent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

// Built outside the coroutines: g++ 12 rejects an initializer list inside a co_await.
QStringList commandLine(const QString& command) {
    return {command};
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
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
    AppModel& model = *m_model;
    QHash<QString, QString> values;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0 || colon == line.size() - 1)
            continue;
        values.insert(trimSpacesAndTabs(line.left(colon)).toLower(), trimSpacesAndTabs(line.mid(colon + 1)));
    }

    const QString status = values.value(QStringLiteral("status")).toLower();
    if (status.contains(QLatin1String("paused"))) {
        model.setSyncState(SyncState::paused);
    } else if (status.contains(QLatin1String("syncing")) || status.contains(QLatin1String("indexing"))) {
        model.setSyncState(SyncState::syncing);
    } else {
        model.setSyncState(SyncState::idle);
        model.setLastSyncedDescription(QStringLiteral("Last synced just now"));
    }

    const auto usage = values.constFind(QStringLiteral("usage"));
    const auto account = values.constFind(QStringLiteral("account"));
    if (usage == values.cend() || account == values.cend())
        return;
    const QStringList localPart = account->split(QLatin1Char('@'), Qt::SkipEmptyParts);
    const QStringList amounts = usage->split(QStringLiteral(" of "));
    AccountInfo info;
    info.displayName = capitalized(localPart.isEmpty() ? *account : localPart.first());
    info.email = *account;
    info.planName = QStringLiteral("Dropbox");
    info.usedBytes = parseBytes(amounts.value(0));
    info.quotaBytes = parseBytes(amounts.value(1));
    model.setAccount(info);
}

QCoro::Task<> MaestralSyncEngine::refreshHistory() {
    QPointer<MaestralSyncEngine> self(this);
    if (!m_model)
        co_return;
    const std::optional<QString> output = co_await run(commandLine(historyCommand));
    if (!self || !output || !m_model)
        co_return;

    const QString root = Paths::expandTilde(m_model->folderPath());
    const QStringList lines = output->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QDateTime now = m_clock.now();
    QList<RecentFile> records;
    // The newest three lines only; a line without a path does not make room for an older one.
    for (qsizetype i = lines.size() - 1; i >= 0 && i >= lines.size() - 3; --i) {
        const QStringList pieces = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto path = std::find_if(pieces.cbegin(), pieces.cend(), [](const QString& piece) {
            return piece.startsWith(QLatin1Char('/'));
        });
        if (path == pieces.cend())
            continue;
        RecentFile record;
        record.name = lastPathComponent(*path);
        record.syncedAt = now;
        record.url = QUrl::fromLocalFile(root + *path);
        records.append(record);
    }
    if (!records.isEmpty())
        m_model->setRecentFiles(records);
}

qint64 MaestralSyncEngine::parseBytes(const QString& text) {
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && text[i].isSpace())
        ++i;
    const qsizetype begin = i;
    if (i < size && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    for (; i < size && isAsciiDigit(text[i]); ++i)
        ++digits;
    if (i < size && text[i] == QLatin1Char('.'))
        for (++i; i < size && isAsciiDigit(text[i]); ++i)
            ++digits;
    if (digits == 0)
        return 0;
    if (i < size && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        if (j < size && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        if (j < size && isAsciiDigit(text[j])) {
            while (j < size && isAsciiDigit(text[j]))
                ++j;
            i = j;
        }
    }

    // from_chars takes no "+" and, unlike strtod, ignores the process locale.
    QByteArray number = text.mid(begin, i - begin).toLatin1();
    if (number.startsWith('+'))
        number.remove(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.cbegin(), number.cend(), value);
    if (error != std::errc() || end != number.cend())
        return 0;

    const QString lower = text.toLower();
    double multiplier = 1;
    if (lower.contains(QLatin1String("tb")))
        multiplier = 1e12;
    else if (lower.contains(QLatin1String("gb")))
        multiplier = 1e9;
    else if (lower.contains(QLatin1String("mb")))
        multiplier = 1e6;
    else if (lower.contains(QLatin1String("kb")))
        multiplier = 1e3;

    const double bytes = std::trunc(value * multiplier);
    // Beyond any real storage size; clamped so the conversion stays defined.
    constexpr double limit = 9.2e18;
    if (bytes >= limit)
        return std::numeric_limits<qint64>::max();
    if (bytes <= -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(bytes);
}

} // namespace norvela

#include "MaestralSyncEngine.moc"
