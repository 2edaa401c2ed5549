#include "DropboxUploadSessions.h"

#include "OAuth.h"

namespace cloudsim {

QString DropboxUploadSessions::start(const QString& accountId, std::shared_ptr<BlobStore::Builder> builder,
                                     bool close, qint64 nowMs) {
    expire(nowMs);
    // A flood of starts that are never finished can't grow the table without end.
    while (m_sessions.size() >= size_t(maxSessions)) {
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
            if (it->second.lastUsedMs < oldest->second.lastUsedMs)
                oldest = it;
        m_sessions.erase(oldest);
    }
    QString id = randomToken(32);
    Session& session = m_sessions[id];
    session.accountId = accountId;
    session.builder = std::move(builder);
    session.closed = close;
    session.lastUsedMs = nowMs;
    return id;
}

DropboxUploadSessions::Session* DropboxUploadSessions::find(const QString& id, const QString& accountId,
                                                            qint64 nowMs) {
    expire(nowMs);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end() || it->second.accountId != accountId)
        return nullptr;
    it->second.lastUsedMs = nowMs;
    return &it->second;
}

int DropboxUploadSessions::count(const QString& accountId) const {
    int n = 0;
    for (const auto& [id, session] : m_sessions)
        n += session.accountId == accountId;
    return n;
}

void DropboxUploadSessions::expire(qint64 nowMs) {
    // Clients abandon a session whenever an upload fails part-way; idle ones are dropped so
    // their bytes don't pile up.
    std::erase_if(m_sessions,
                  [&](const auto& entry) { return nowMs - entry.second.lastUsedMs > idleLifetimeMs; });
}

} // namespace cloudsim
