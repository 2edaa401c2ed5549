#pragma once

#include <QMetaType>
#include <QString>

namespace norvela {

// What a provider reports about the signed-in account.
struct AccountInfo {
    Q_GADGET
    Q_PROPERTY(QString displayName MEMBER displayName)
    Q_PROPERTY(QString email MEMBER email)
    Q_PROPERTY(QString planName MEMBER planName)
    Q_PROPERTY(qint64 usedBytes MEMBER usedBytes)
    Q_PROPERTY(qint64 quotaBytes MEMBER quotaBytes)
    Q_PROPERTY(QString uid MEMBER uid)
    Q_PROPERTY(QString usageSummary READ usageSummary)

public:
    QString displayName;
    QString email;
    QString planName;
    qint64 usedBytes = 0;
    qint64 quotaBytes = 0;
    QString uid;

    // "4.2 GB of 2 TB"
    QString usageSummary() const;

    bool operator==(const AccountInfo&) const = default;
};

} // namespace norvela

Q_DECLARE_METATYPE(norvela::AccountInfo)
