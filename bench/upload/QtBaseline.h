#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QStringList>

#include <functional>

namespace norvela::bench {

// The floor Qt sets: the small-file requests of the curl baseline sent one after the other
// with none of Norvela's code in between, through a bare QNetworkAccessManager, or written by
// hand over one kept-alive socket on the event loop (what an HTTP client of our own could
// reach). What Norvela spends beyond the first is its own; what that spends beyond curl is
// Qt's network manager's.
class QtBaseline {
public:
    enum class Transport { networkManager, socket };

    QtBaseline(QString baseUrl, Transport transport)
        : m_baseUrl(std::move(baseUrl)), m_transport(transport) {}
    void setDropboxToken(const QString& token) { m_dropboxToken = token.toUtf8(); }
    void setDriveToken(const QString& token) { m_driveToken = token.toUtf8(); }

    // Wall-clock seconds; throws NorvelaError when a reply is not a success.
    double dropboxFiles(const QStringList& files, const QString& dropboxFolder);
    double driveFiles(const QStringList& files);

private:
    double sendEach(const QStringList& files,
                    const std::function<QNetworkRequest(const QString&)>& requestFor);

    QString m_baseUrl;
    Transport m_transport;
    QByteArray m_dropboxToken;
    QByteArray m_driveToken;
};

} // namespace norvela::bench
