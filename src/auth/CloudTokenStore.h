#pragma once

#include "TokenSlot.h"

#include <QList>
#include <QString>

#include <optional>

namespace norvela {

// The credential file of one provider kind: a JSON list of TokenSlot, owner-only (0600).
// Holds no cache: every operation reads the whole file, changes the list and writes it back.
// Reading never fails: a missing or unreadable file counts as no accounts. A change that
// cannot be written throws NorvelaError with the system's reason, and the file keeps what
// it held (every account in it).
class CloudTokenStore {
public:
    CloudTokenStore(QString providerID, QString filename);
    static CloudTokenStore dropbox();
    static CloudTokenStore googleDrive();

    const QString& providerID() const { return m_providerID; }
    const QString& filename() const { return m_filename; }
    // $NORVELA_APP_SUPPORT_DIR/<filename>, else ~/.local/share/Norvela/<filename>.
    QString fileURL() const;

    QList<TokenSlot> load() const;
    void save(const QList<TokenSlot>& slots) const;
    TokenSlot upsert(const QString& uid, const QString& email, const QString& refreshToken) const;
    void remove(const QString& storageKey) const;
    std::optional<TokenSlot> resolveIdentity(const QString& storageKey, const QString& uid,
                                             const QString& email) const;

    // The file's accounts: the current list, or the older single-token form as one account
    // under `providerID`; nothing when the bytes are neither.
    static std::optional<QList<TokenSlot>> decode(const QByteArray& bytes, const QString& providerID);

    // Letters and numbers kept, every other character a "-", dashes trimmed at both ends.
    static QString sanitize(const QString& text);

private:
    QString m_providerID;
    QString m_filename;
};

} // namespace norvela
