#include "UpdaterService.h"

#include "Appcast.h"
#include "common/Clock.h"
#include "common/Formatting.h"
#include "common/NorvelaError.h"
#include "common/SettingsStore.h"
#include "net/Http.h"
#include "platform/SystemLog.h"

#include <QNetworkRequest>
#include <QPointer>

#include <QCoro/QCoroSignal>

#include <cmath>

namespace norvela {

namespace {

constexpr auto requestTimeout = std::chrono::seconds(15);
constexpr auto firstCheckDelay = std::chrono::minutes(1);
constexpr auto checkInterval = std::chrono::hours(24);

UpdaterService::CheckResult unreachable(const QString& reason) {
    systemLog(QStringLiteral("Update check failed: ") + reason);
    return {UpdaterService::Outcome::unreachable, std::nullopt, reason};
}

// One request and its verdict; touches no service object, so it may outlive one.
QCoro::Task<UpdaterService::CheckResult> fetch(QUrl feed, QString currentVersion) {
    QNetworkRequest request(feed);
    request.setRawHeader("Accept", "application/rss+xml, application/xml;q=0.9, */*;q=0.1");
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Norvela/") + currentVersion);
    HttpResult reply;
    try {
        reply = co_await Http::send(request, "GET", QByteArray(), requestTimeout);
    } catch (const std::exception&) {
        co_return unreachable(describe(std::current_exception()));
    }
    if (reply.status != 200)
        co_return unreachable(
            QStringLiteral("HTTP %1 from %2").arg(reply.status).arg(feed.toDisplayString()));
    QString why;
    const auto items = Appcast::parse(reply.body, feed, &why);
    if (!items)
        co_return unreachable(QStringLiteral("unreadable feed: ") + why);
    const Appcast::Item newest = *Appcast::newest(*items);
    if (Appcast::compareVersions(newest.version, currentVersion) <= 0)
        co_return UpdaterService::CheckResult{UpdaterService::Outcome::upToDate, std::nullopt,
                                              QStringLiteral("Norvela %1 is up to date").arg(currentVersion)};
    co_return UpdaterService::CheckResult{UpdaterService::Outcome::updateAvailable,
                                          UpdaterService::Update{newest.version, newest.page, newest.title},
                                          QStringLiteral("Norvela %1 is available").arg(newest.version)};
}

} // namespace

// Lets later callers of checkNow() wait for the check already running.
class UpdateCheckWaiter : public QObject {
    Q_OBJECT
public:
    UpdaterService::CheckResult result;
Q_SIGNALS:
    void finished();
};

UpdaterService::UpdaterService(QUrl feed, SettingsStore& settings, Clock& clock, QString currentVersion,
                               QObject* parent)
    : QObject(parent), m_feed(std::move(feed)), m_settings(settings), m_clock(clock),
      m_currentVersion(std::move(currentVersion)) {
    // A hand-edited time beyond the year 5000 or so counts as absent rather than overflowing.
    const auto seconds = m_settings.doubleValue(QString::fromLatin1(lastCheckKey));
    if (seconds && std::fabs(*seconds) < 1e11)
        m_lastCheck = QDateTime::fromMSecsSinceEpoch(qint64(*seconds * 1000.0), Qt::UTC);
}

UpdaterService::~UpdaterService() = default;

QCoro::Task<UpdaterService::CheckResult> UpdaterService::checkNow() {
    if (m_waiter) {
        const std::shared_ptr<UpdateCheckWaiter> running = m_waiter;
        co_await qCoro(running.get(), &UpdateCheckWaiter::finished);
        co_return running->result;
    }
    QPointer<UpdaterService> self(this);
    const auto waiter = std::make_shared<UpdateCheckWaiter>();
    m_waiter = waiter;
    Q_EMIT checkingChanged();

    const CheckResult result = co_await fetch(m_feed, m_currentVersion);
    if (self) {
        m_waiter.reset();
        record(result);
        Q_EMIT checkingChanged();
    }
    waiter->result = result;
    Q_EMIT waiter->finished();
    co_return result;
}

void UpdaterService::record(const CheckResult& result) {
    if (result.outcome == Outcome::unreachable)
        return;
    m_lastCheck = m_clock.now();
    m_settings.setDouble(QString::fromLatin1(lastCheckKey),
                         double(m_lastCheck->toMSecsSinceEpoch()) / 1000.0);
    Q_EMIT lastCheckChanged();

    const bool newer = result.update && (!m_available || Appcast::compareVersions(result.update->version,
                                                                                  m_available->version) > 0);
    m_available = result.update;
    if (newer)
        Q_EMIT updateAvailable();
}

void UpdaterService::startAutomaticChecks() {
    m_timer = m_clock.schedule(firstCheckDelay, false, [this] {
        m_timer = m_clock.schedule(checkInterval, true, [this] { checkNow(); });
        checkNow();
    });
}

QString UpdaterService::lastCheckDescription() const {
    if (!m_lastCheck)
        return QStringLiteral("Updates are checked automatically");
    // A clock set back since the check must not read "Last checked in 2 hours".
    const QDateTime now = m_clock.now();
    return QStringLiteral("Last checked ") + Formatting::relativeTime(std::min(*m_lastCheck, now), now);
}

} // namespace norvela

#include "UpdaterService.moc"
