#include "CurlBaseline.h"

#include "common/NorvelaError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace norvela::bench {

namespace {

const QByteArray octetStream = "Content-Type: application/octet-stream";
// curl asks for "100 Continue" before bodies over 1 MiB and waits a second when the server
// does not answer it; Norvela never asks, so neither does the baseline.
const QByteArray noExpect = "Expect:";

QByteArray quoted(const QByteArray& text) {
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

QByteArray compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray dropboxArg(const QJsonObject& arg) {
    return "Dropbox-API-Arg: " + compact(arg);
}

QJsonObject dropboxCommit(const QString& path) {
    return {{QStringLiteral("path"), path},
            {QStringLiteral("mode"), QStringLiteral("overwrite")},
            {QStringLiteral("autorename"), false},
            {QStringLiteral("mute"), false}};
}

QJsonObject cursor(const QString& sessionId, qint64 offset) {
    return {{QStringLiteral("session_id"), sessionId}, {QStringLiteral("offset"), double(offset)}};
}

} // namespace

CurlBaseline::CurlBaseline(QString baseUrl, QString workDir)
    : m_baseUrl(std::move(baseUrl)), m_workDir(std::move(workDir)) {}

QStringList CurlBaseline::splitFile(const QString& file, qint64 chunkSize, const QString& dir) {
    QDir().mkpath(dir);
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw NorvelaError(QStringLiteral("Couldn't open %1: %2").arg(file, in.errorString()));
    QStringList pieces;
    for (;;) {
        const QByteArray bytes = in.read(chunkSize);
        if (bytes.isEmpty())
            break;
        const QString path = dir + QStringLiteral("/piece-%1").arg(pieces.size(), 4, 10, QLatin1Char('0'));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
            throw NorvelaError(QStringLiteral("Couldn't write %1: %2").arg(path, out.errorString()));
        pieces.append(path);
    }
    return pieces;
}

QByteArray CurlBaseline::configText(const QList<Transfer>& transfers) {
    QByteArray text;
    for (qsizetype i = 0; i < transfers.size(); ++i) {
        const Transfer& t = transfers[i];
        if (i > 0)
            text += "next\n";
        text += "url = " + quoted(t.url.toUtf8()) + '\n';
        if (!t.method.isEmpty())
            text += "request = " + quoted(t.method) + '\n';
        for (const QByteArray& header : t.headers)
            text += "header = " + quoted(header) + '\n';
        text +=
            "data-binary = " + quoted(t.bodyFile.isEmpty() ? QByteArray() : '@' + t.bodyFile.toUtf8()) + '\n';
        text += "output = \"/dev/null\"\n";
        text += "write-out = \"%{http_code}\\n\"\n";
    }
    return text;
}

void CurlBaseline::checkStatuses(const QByteArray& printed, const QList<int>& expected) {
    const QList<QByteArray> lines = printed.trimmed().split('\n');
    bool same = lines.size() == expected.size();
    for (qsizetype i = 0; same && i < lines.size(); ++i)
        same = lines[i].trimmed().toInt() == expected[i];
    if (!same)
        throw NorvelaError(
            QStringLiteral("curl got statuses %1").arg(QString::fromUtf8(printed.simplified())));
}

CurlBaseline::Run CurlBaseline::run(const QStringList& args) {
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               QStringList{QStringLiteral("--silent"), QStringLiteral("--show-error")} + args);
    if (!curl.waitForStarted(10000))
        throw NorvelaError(QStringLiteral("Couldn't start curl: %1").arg(curl.errorString()));
    curl.waitForFinished(-1);
    Run r;
    r.out = curl.readAllStandardOutput();
    r.err = curl.readAllStandardError();
    r.exitCode = curl.exitStatus() == QProcess::NormalExit ? curl.exitCode() : -1;
    if (r.exitCode != 0)
        throw NorvelaError(
            QStringLiteral("curl failed (%1): %2").arg(r.exitCode).arg(QString::fromUtf8(r.err)));
    return r;
}

QString CurlBaseline::writeConfig(const QList<Transfer>& transfers, const QString& name) const {
    const QString path = m_workDir + QLatin1Char('/') + name;
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(configText(transfers)) < 0)
        throw NorvelaError(QStringLiteral("Couldn't write %1: %2").arg(path, out.errorString()));
    return path;
}

QByteArray CurlBaseline::runConfig(const QString& configPath) {
    return run({QStringLiteral("--config"), configPath}).out;
}

double CurlBaseline::dropboxSession(const QStringList& chunks, qint64 total, const QString& dropboxPath) {
    const QString base = QStringLiteral("/dropbox/content/2/files/upload_session/");
    const QByteArray auth = "Authorization: Bearer " + m_dropboxToken;
    QElapsedTimer clock;
    clock.start();

    const QJsonObject startArg{{QStringLiteral("close"), false}};
    const Run started = run({QStringLiteral("--header"), QString::fromUtf8(auth), QStringLiteral("--header"),
                             QString::fromUtf8(octetStream), QStringLiteral("--header"),
                             QString::fromUtf8(dropboxArg(startArg)), QStringLiteral("--header"),
                             QString::fromUtf8(noExpect), QStringLiteral("--data-binary"),
                             QLatin1Char('@') + chunks.first(), url(base + QStringLiteral("start"))});
    const QString sessionId =
        QJsonDocument::fromJson(started.out).object().value(QStringLiteral("session_id")).toString();
    if (sessionId.isEmpty())
        throw NorvelaError(QStringLiteral("curl: no session id in %1").arg(QString::fromUtf8(started.out)));

    QList<Transfer> rest;
    qint64 offset = QFileInfo(chunks.first()).size();
    for (qsizetype i = 1; i + 1 < chunks.size(); ++i) {
        const QJsonObject arg{{QStringLiteral("cursor"), cursor(sessionId, offset)},
                              {QStringLiteral("close"), false}};
        rest.append({url(base + QStringLiteral("append_v2")),
                     {},
                     {auth, octetStream, dropboxArg(arg), noExpect},
                     chunks[i]});
        offset += QFileInfo(chunks[i]).size();
    }
    const QString last = chunks.size() > 1 ? chunks.last() : QString();
    const QJsonObject finishArg{{QStringLiteral("cursor"), cursor(sessionId, offset)},
                                {QStringLiteral("commit"), dropboxCommit(dropboxPath)}};
    rest.append({url(base + QStringLiteral("finish")),
                 "POST",
                 {auth, octetStream, dropboxArg(finishArg), noExpect},
                 last});
    if (offset + (last.isEmpty() ? 0 : QFileInfo(last).size()) != total)
        throw NorvelaError(QStringLiteral("curl: the pieces don't add up to the file"));
    checkStatuses(runConfig(writeConfig(rest, QStringLiteral("dropbox-session.curl"))),
                  QList<int>(rest.size(), 200));
    return clock.nsecsElapsed() / 1e9;
}

double CurlBaseline::driveResumable(const QStringList& chunks, qint64 total, const QString& name) {
    QElapsedTimer clock;
    clock.start();
    const QJsonObject metadata{{QStringLiteral("name"), name}};
    const Run started =
        run({QStringLiteral("--dump-header"), QStringLiteral("-"), QStringLiteral("--output"),
             QStringLiteral("/dev/null"), QStringLiteral("--header"),
             QStringLiteral("Authorization: Bearer ") + QString::fromUtf8(m_driveToken),
             QStringLiteral("--header"), QStringLiteral("Content-Type: application/json; charset=UTF-8"),
             QStringLiteral("--data-binary"), QString::fromUtf8(compact(metadata)),
             url(QStringLiteral(
                 "/google/www/upload/drive/v3/files?uploadType=resumable&fields=id,md5Checksum,size"))});
    QString session;
    for (const QByteArray& line : started.out.split('\n'))
        if (line.toLower().startsWith("location:"))
            session = QString::fromUtf8(line.mid(9).trimmed());
    if (session.isEmpty())
        throw NorvelaError(
            QStringLiteral("curl: no resumable session URI in %1").arg(QString::fromUtf8(started.out)));

    QList<Transfer> puts;
    QList<int> expected;
    qint64 offset = 0;
    for (const QString& chunk : chunks) {
        const qint64 size = QFileInfo(chunk).size();
        const QByteArray range = "Content-Range: bytes " + QByteArray::number(offset) + '-' +
                                 QByteArray::number(offset + size - 1) + '/' + QByteArray::number(total);
        puts.append({session, "PUT", {range, octetStream, noExpect}, chunk});
        offset += size;
        expected.append(offset == total ? 200 : 308);
    }
    checkStatuses(runConfig(writeConfig(puts, QStringLiteral("drive-resumable.curl"))), expected);
    return clock.nsecsElapsed() / 1e9;
}

double CurlBaseline::dropboxFiles(const QStringList& files, const QString& dropboxFolder) {
    const QByteArray auth = "Authorization: Bearer " + m_dropboxToken;
    QList<Transfer> uploads;
    for (const QString& file : files) {
        const QString path = dropboxFolder + QLatin1Char('/') + QFileInfo(file).fileName();
        uploads.append({url(QStringLiteral("/dropbox/content/2/files/upload")),
                        {},
                        {auth, octetStream, dropboxArg(dropboxCommit(path)), noExpect},
                        file});
    }
    const QString config = writeConfig(uploads, QStringLiteral("dropbox-files.curl"));
    QElapsedTimer clock;
    clock.start();
    const QByteArray statuses = runConfig(config);
    const double seconds = clock.nsecsElapsed() / 1e9;
    checkStatuses(statuses, QList<int>(uploads.size(), 200));
    return seconds;
}

double CurlBaseline::driveFiles(const QStringList& files) {
    const QByteArray auth = "Authorization: Bearer " + m_driveToken;
    QList<Transfer> uploads;
    for (const QString& file : files)
        uploads.append({url(QStringLiteral(
                            "/google/www/upload/drive/v3/files?uploadType=media&fields=id,md5Checksum,size")),
                        {},
                        {auth, octetStream, noExpect},
                        file});
    const QString config = writeConfig(uploads, QStringLiteral("drive-files.curl"));
    QElapsedTimer clock;
    clock.start();
    const QByteArray statuses = runConfig(config);
    const double seconds = clock.nsecsElapsed() / 1e9;
    checkStatuses(statuses, QList<int>(uploads.size(), 200));
    return seconds;
}

} // namespace norvela::bench
