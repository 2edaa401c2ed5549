#pragma once

#include "common/AccountInfo.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

namespace norvela {

class DropboxAuthService;

// Asks Dropbox for the signed-in account and its storage use, both at once.
class DropboxAccountClient {
public:
    // `owner` (the provider) holds this client and `auth`; no call resumes into them once it goes.
    DropboxAccountClient(DropboxAuthService& auth, QObject* owner);

    QCoro::Task<AccountInfo> fetchAccountInfo();

    // "basic" -> "Dropbox Basic", "pro" -> "Dropbox Plus", …; unknown tags -> "Dropbox".
    static QString planName(const QString& accountTypeTag);

private:
    template <typename Record> QCoro::Task<Record> call(QString endpoint);

    DropboxAuthService& m_auth;
    QPointer<QObject> m_owner;
};

} // namespace norvela
