#include "Harness.h"

#include "auth/AuthService.h"
#include "cloud/CloudProvider.h"
#include "common/NorvelaError.h"
#include "net/Http.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

#include <algorithm>

namespace norvela::bench {

using namespace std::chrono_literals;

void runTask(QCoro::Task<> task) {
    QEventLoop loop;
    std::exception_ptr failure;
    bool done = false;
    auto wait = [&]() -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    QCoro::Task<> waiting = wait();
    if (!done)
        loop.exec();
    if (failure)
        std::rethrow_exception(failure);
}

// --- emulator ---

EmulatorProcess::~EmulatorProcess() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool EmulatorProcess::start(const QString& stateDir, QString* error) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Port 0: the emulator picks a free one and says which on its first line.
    m_process.start(QStringLiteral(NORVELA_CLOUDSIM_PATH),
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--state"), stateDir});
    if (!m_process.waitForStarted(10000)) {
        *error = m_process.errorString();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on (http://\\S+)"));
    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(500);
        seen += m_process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(seen));
        if (match.hasMatch()) {
            m_baseUrl = match.captured(1);
            return true;
        }
    }
    *error = QStringLiteral("no 'listening on' line; it said: ") + QString::fromUtf8(seen);
    return false;
}

qint64 EmulatorProcess::peakResidentKb() const {
    return bench::peakResidentKb(m_process.processId());
}

bool EmulatorProcess::resetPeakResident() const {
    // "5" resets the high-water mark to the current resident size (Linux 4.0 and later).
    QFile clear(QStringLiteral("/proc/%1/clear_refs").arg(m_process.processId()));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

double EmulatorProcess::cpuSeconds() const {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The command name may hold spaces; the fields after its closing parenthesis don't.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    // utime and stime, the 14th and 15th fields of the whole line.
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// --- linking ---

namespace {

QCoro::Task<> linkAndBrowse(CloudProvider& provider) {
    AuthService& auth = provider.authService();
    QUrl page;
    auth.onAuthorizationUrl = [&page](const QUrl& url) { page = url; };
    // Eager: by the time this returns, the loopback server listens and the page is known.
    QCoro::Task<> linking = provider.link(false, false);
    auth.onAuthorizationUrl = nullptr;

    std::exception_ptr browsing;
    try {
        if (page.isEmpty())
            throw NorvelaError(QStringLiteral("the link never asked for a browser"));
        const QNetworkRequest pageRequest(page);
        const HttpResult approval = co_await Http::send(pageRequest, "GET", QByteArray(), 30s);
        const QByteArray location = approval.header("Location");
        if (approval.status != 302 || location.isEmpty())
            throw NorvelaError(QStringLiteral("the authorisation page answered HTTP %1, not a redirect")
                                   .arg(approval.status));
        const QNetworkRequest callback(QUrl::fromEncoded(location));
        co_await Http::send(callback, "GET", QByteArray(), 30s);
    } catch (...) {
        browsing = std::current_exception();
        auth.cancelLink();
    }
    try {
        co_await std::move(linking);
    } catch (...) {
        if (!browsing)
            throw;
    }
    if (browsing)
        std::rethrow_exception(browsing);
}

} // namespace

void linkThroughEmulator(CloudProvider& provider) {
    runTask(linkAndBrowse(provider));
}

// --- measuring ---

qint64 peakResidentKb(qint64 pid) {
    QFile status(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void writeRandomFile(const QString& path, qint64 size, quint64 seed) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw NorvelaError(QStringLiteral("Couldn't write %1: %2").arg(path, out.errorString()));
    // xorshift64*: fast enough that writing 1 GiB is bound by the disk, and incompressible.
    quint64 state = seed * 0x9E3779B97F4A7C15ULL + 1;
    QByteArray block(qsizetype(std::min<qint64>(size, 8 << 20)), Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        auto* words = reinterpret_cast<quint64*>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i) {
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            words[i] = state * 0x2545F4914F6CDD1DULL;
        }
        const qint64 n = std::min<qint64>(left, block.size());
        if (out.write(block.constData(), n) != n)
            throw NorvelaError(QStringLiteral("Couldn't write %1: %2").arg(path, out.errorString()));
        left -= n;
    }
}

void warmPageCache(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return;
    while (!in.read(8 << 20).isEmpty()) {
    }
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace norvela::bench
