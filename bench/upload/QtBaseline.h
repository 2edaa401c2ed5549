#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace norvela::bench {

// The floor Qt's own network manager sets: the small-file requests of the curl baseline sent
// through a bare QNetworkAccessManager, one after the other, with none of Norvela's code in
// between. What Norvela spends beyond this is its own; what this spends beyond curl is Qt's.
class QtBaseline {
public:
    explicit QtBaseline(QString baseUrl) : m_baseUrl(std::move(baseUrl)) {}
    void setDropboxToken(const QString& token) { m_dropboxToken = token.toUtf8(); }
    void setDriveToken(const QString& token) { m_driveToken = token.toUtf8(); }

    // Wall-clock seconds; throws NorvelaError when a reply is not a success.
    double dropboxFiles(const QStringList& files, const QString& dropboxFolder);
    double driveFiles(const QStringList& files);

private:
    QString m_baseUrl;
    QByteArray m_dropboxToken;
    QByteArray m_driveToken;
};

} // namespace norvela::bench
