#pragma once

#include "SimBrowser.h"
#include "TestSupport.h"
#include "auth/AuthError.h"
#include "auth/ServiceEndpoints.h"
#include "cloudsim/CloudSim.h"
#include "net/BandwidthLimiter.h"
#include "net/Http.h"
#include "net/ServiceError.h"
#include "sync/LocalFile.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

namespace norvela::test {

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

// Request body bytes the emulator took in for requests starting "METHOD /path…" as `prefix`,
// cut-off uploads included.
inline qint64 bytesReceived(const cloudsim::CloudSim& sim, const QString& prefix) {
    qint64 total = 0;
    const QMap<QString, qint64> received = sim.bytesReceived();
    for (auto it = received.cbegin(); it != received.cend(); ++it)
        if (it.key().startsWith(prefix))
            total += it.value();
    return total;
}

// A provider of one service, linked against the in-process emulator, and files for it to upload.
template <typename Provider, auto ServiceEndpoints::*service> class ProviderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("NORVELA_APP_SUPPORT_DIR", m_support.path().toUtf8());
        ASSERT_TRUE(sim.start());
        endpoints = ServiceEndpoints::sandbox(QUrl(sim.baseUrl())).*service;
        provider = std::make_unique<Provider>(std::nullopt, endpoints, limiter);
        ASSERT_EQ(linkThroughBrowser(provider->auth()), std::nullopt);
    }
    void TearDown() override {
        waitFor([] { return Http::inFlight() == 0; });
        provider.reset();
        processEvents();
        qunsetenv("NORVELA_APP_SUPPORT_DIR");
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

    cloudsim::CloudSim sim;
    std::remove_cvref_t<decltype(ServiceEndpoints{}.*service)> endpoints;
    BandwidthLimiter limiter;
    std::unique_ptr<Provider> provider;

private:
    QTemporaryDir m_support;
    QTemporaryDir m_files;
    int m_fileCount = 0;
};

} // namespace norvela::test
