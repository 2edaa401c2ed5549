#pragma once

#include "SimBrowser.h"
#include "TestSupport.h"
#include "auth/AuthError.h"
#include "auth/DropboxAuthService.h"
#include "auth/GoogleAuthService.h"
#include "auth/ServiceEndpoints.h"
#include "cloud/CloudProvider.h"
#include "cloudsim/CloudSim.h"
#include "net/BandwidthLimiter.h"
#include "net/Http.h"
#include "net/ServiceError.h"
#include "sync/LocalFile.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace norvela::test {

constexpr qint64 MiB = 1024 * 1024;

// Bytes that depend on every bit of their offset, so a piece sent twice or out of place,
// even a whole 8 MiB chunk away, changes the content.
inline QByteArray pattern(qint64 size, int seed = 0) {
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char((i * 131 + seed) ^ (i >> 9) ^ (i >> 17) ^ (i >> 25));
    return data;
}

// The error's payload when it is a bad response, otherwise its description.
template <typename T> QString failure(QCoro::Task<T> task) {
    try {
        await(std::move(task));
    } catch (const NorvelaError& e) {
        const auto* auth = dynamic_cast<const AuthError*>(&e);
        return auth && auth->kind() == AuthError::Kind::badResponse ? auth->payload() : e.description();
    }
    return QStringLiteral("(no error)");
}

// The ServiceError a task fails with; an error of kind "none" (-1) with its text for any other
// outcome, so that a mismatch shows what happened instead.
template <typename T> ServiceError serviceFailure(QCoro::Task<T> task) {
    try {
        await(std::move(task));
    } catch (const ServiceError& e) {
        return e;
    } catch (const NorvelaError& e) {
        return ServiceError(ServiceError::Kind(-1), e.description());
    }
    return ServiceError(ServiceError::Kind(-1), QStringLiteral("(no error)"));
}

// The emulator in-process with a private support folder (credentials, indexes), and accounts
// linked against it by playing the browser: what every test of Norvela against it starts from.
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("NORVELA_APP_SUPPORT_DIR", m_support.path().toUtf8());
        ASSERT_TRUE(sim.start());
        endpoints = ServiceEndpoints::sandbox(QUrl(sim.baseUrl()));
    }
    void TearDown() override {
        waitFor([] { return Http::inFlight() == 0; });
        processEvents();
        for (const char* name : {"NORVELA_APP_SUPPORT_DIR", "NORVELA_SANDBOX_URL", "NORVELA_DUMP_STATE"})
            qunsetenv(name);
    }

    // The default Dropbox and Google Drive accounts, linked as "dropbox" and "gdrive".
    void linkBoth() {
        DropboxAuthService dropbox(std::nullopt, endpoints.dropbox);
        ASSERT_EQ(linkThroughBrowser(dropbox), std::nullopt);
        GoogleAuthService google(std::nullopt, endpoints.google);
        ASSERT_EQ(linkThroughBrowser(google), std::nullopt);
    }

    // Requests so far whose "METHOD /path" contains `part`.
    int requests(const QString& part) const {
        int n = 0;
        const QMap<QString, int> counts = sim.requestCounts();
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            n += it.key().contains(part) ? it.value() : 0;
        return n;
    }
    // Request body bytes taken in for requests whose "METHOD /path" starts with `prefix`,
    // cut-off uploads included.
    qint64 bytesReceived(const QString& prefix) const {
        qint64 total = 0;
        const QMap<QString, qint64> received = sim.bytesReceived();
        for (auto it = received.cbegin(); it != received.cend(); ++it)
            total += it.key().startsWith(prefix) ? it.value() : 0;
        return total;
    }
    QString supportPath(const QString& name) const { return m_support.filePath(name); }

    cloudsim::CloudSim sim;
    ServiceEndpoints endpoints;

private:
    QTemporaryDir m_support;
};

// A provider of one service, linked against the emulator, and files for it to upload.
template <typename Provider, auto ServiceEndpoints::*service> class ProviderFixture : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        provider = std::make_unique<Provider>(std::nullopt, endpoints.*service, limiter);
        ASSERT_EQ(linkThroughBrowser(provider->auth()), std::nullopt);
        account = sim.accounts().first().id;
    }
    void TearDown() override {
        waitFor([] { return Http::inFlight() == 0; });
        provider.reset();
        SimFixture::TearDown();
    }

    QString localFile(const QByteArray& data) {
        const QString path = m_files.filePath(QString::number(++m_fileCount));
        writeFile(path, data);
        return path;
    }
    static std::shared_ptr<const LocalFile> open(const QString& path) {
        const QFileInfo info(path);
        return std::get<std::shared_ptr<const LocalFile>>(LocalFile::open(info.path(), info.fileName()));
    }
    // `data`, opened when it held `measured` bytes (default: all of it); a file that then
    // grows or shrinks to `data` stands for one written to while it uploads.
    std::shared_ptr<const LocalFile> opened(const QByteArray& data, qint64 measured = -1) {
        if (measured < 0)
            measured = data.size();
        const QString path =
            localFile(data.left(measured) + QByteArray(std::max<qint64>(0, measured - data.size()), 'x'));
        const auto file = open(path);
        QFile rewrite(path); // the same inode, as an editor writing in place leaves it
        EXPECT_TRUE(rewrite.open(QIODevice::ReadWrite | QIODevice::Truncate) &&
                    rewrite.write(data) == data.size());
        return file;
    }

    // Uploads `data` (opened at `measured` bytes, see opened()), recording each progress report.
    QCoro::Task<CloudUploadResult> start(const QString& relativePath, const QByteArray& data,
                                         std::optional<QString> existingRef = {}, bool mayExist = false,
                                         std::vector<qint64>* progress = nullptr, qint64 measured = -1) {
        CloudProvider::Progress report;
        if (progress)
            report = [progress](qint64 sent) { progress->push_back(sent); };
        return provider->upload(opened(data, measured), relativePath, std::move(existingRef), mayExist,
                                report);
    }
    CloudUploadResult upload(const QString& relativePath, const QByteArray& data,
                             std::optional<QString> existingRef = {}, bool mayExist = false) {
        return await(start(relativePath, data, std::move(existingRef), mayExist));
    }
    ServiceError failing(const QString& relativePath, qint64 size = 3,
                         std::optional<QString> existingRef = {}) {
        return serviceFailure(start(relativePath, pattern(size), std::move(existingRef)));
    }

    // A full account is refused on both ways up: in one request, and in pieces the limiter paces
    // (from 256 KiB). Gives the first refusal.
    ServiceError expectQuotaRefusedBothWays() {
        sim.setQuota(account, 10);
        const ServiceError whole = failing("big.txt", 11);
        EXPECT_EQ(whole.kind(), ServiceError::Kind::quota);
        sim.setQuota(account, 300 * 1024);
        limiter.configure(1e9);
        EXPECT_EQ(failing("big.txt", 300 * 1024 + 1).kind(), ServiceError::Kind::quota);
        limiter.configure(0);
        sim.setQuota(account, 1e12);
        return whole;
    }
    // A grant refused once is renewed and the upload goes again; refused again, or with the
    // renewal refused too, it is gone.
    void expectGrantRenewedOnceThenGone(const QString& uploads, const QJsonObject& refusedRenewal) {
        const QString renewals = "POST " + refusedRenewal.value("endpoint").toString();
        const int renewed = requests(renewals);
        sim.addFault({{"endpoint", uploads}, {"status", 401}});
        EXPECT_EQ(upload("renewed.txt", "r").size, 1);
        EXPECT_EQ(requests(renewals), renewed + 1);
        sim.addFault({{"endpoint", uploads}, {"status", 401}, {"count", 2}});
        EXPECT_EQ(failing("a.txt").kind(), ServiceError::Kind::authorization);
        sim.addFault(refusedRenewal);
        sim.expireAccessTokens();
        EXPECT_EQ(failing("a.txt").kind(), ServiceError::Kind::authorization);
        sim.clearFaults();
    }

    BandwidthLimiter limiter;
    std::unique_ptr<Provider> provider;
    QString account; // the emulator's id of the linked account

private:
    QTemporaryDir m_files;
    int m_fileCount = 0;
};

} // namespace norvela::test
