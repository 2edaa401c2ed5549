#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace norvela::bench {

// The reference client: curl sending the same bytes to the same emulator endpoints, the
// cheapest way the protocol allows, with its requests in one process wherever possible so
// that they share one kept-alive connection as Norvela's do. Every call returns the
// wall-clock seconds it took and throws NorvelaError when any reply was not the expected one.
class CurlBaseline {
public:
    // `workDir` takes the request lists handed to curl.
    CurlBaseline(QString baseUrl, QString workDir);

    // Bearer tokens of the linked accounts.
    void setDropboxToken(const QString& token) { m_dropboxToken = token.toUtf8(); }
    void setDriveToken(const QString& token) { m_driveToken = token.toUtf8(); }

    // Cuts `file` into pieces of `chunkSize` bytes under `dir`, in order; done once, untimed,
    // because curl can only send a byte range of a file as a file of its own.
    static QStringList splitFile(const QString& file, qint64 chunkSize, const QString& dir);

    // An upload session: start with the first piece, append the middle ones, finish with
    // the last, committing at `dropboxPath`.
    double dropboxSession(const QStringList& chunks, qint64 total, const QString& dropboxPath);
    // A resumable upload: the session request, then one PUT per piece with its range.
    double driveResumable(const QStringList& chunks, qint64 total, const QString& name);

    // One request per file, one after the other on one connection.
    double dropboxFiles(const QStringList& files, const QString& dropboxFolder);
    double driveFiles(const QStringList& files);

    // Config-file text for curl's -K: one transfer, with quoting curl understands.
    struct Transfer {
        QString url;
        QByteArray method; // empty: POST, from the body
        QList<QByteArray> headers;
        QString bodyFile; // empty: an empty body
    };
    static QByteArray configText(const QList<Transfer>& transfers);
    // Fails unless curl printed exactly `expected`, one status a line.
    static void checkStatuses(const QByteArray& printed, const QList<int>& expected);

private:
    struct Run {
        QByteArray out;
        QByteArray err;
        int exitCode = -1;
    };
    static Run run(const QStringList& args);
    QString writeConfig(const QList<Transfer>& transfers, const QString& name) const;
    // Runs the transfers of a config file through one curl; returns the statuses it printed.
    static QByteArray runConfig(const QString& configPath);
    QString url(const QString& path) const { return m_baseUrl + path; }

    QString m_baseUrl;
    QString m_workDir;
    QByteArray m_dropboxToken;
    QByteArray m_driveToken;
};

} // namespace norvela::bench
