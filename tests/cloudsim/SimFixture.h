#pragma once

#include "HttpClient.h"
#include "TestSupport.h"
#include "cloudsim/CloudSim.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <memory>

namespace cloudsim {

inline QJsonObject jsonOf(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}
inline QJsonObject jsonOf(const norvela::test::HttpReply& reply) {
    return jsonOf(reply.body);
}
inline QByteArray compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Bytes that depend on every bit of their offset, so a piece sent twice or out of place,
// even a whole 8 MiB chunk away, changes the content.
inline QByteArray patterned(qint64 size, int seed = 0) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed) ^ (i >> 9) ^ (i >> 17) ^ (i >> 25));
    return bytes;
}

// The emulator on a free port, and the OAuth flow with PKCE spoken in plain HTTP as a client does.
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { startSim({}); }

    void startSim(const CloudSim::Options& options) {
        sim.reset();
        sim = std::make_unique<CloudSim>(options);
        ASSERT_TRUE(sim->start());
        base = sim->baseUrl();
    }

    static QString redirectUri(Service s) {
        return s == Service::dropbox ? "http://localhost:47600/oauth/callback"
                                     : "http://127.0.0.1:47601/oauth/google";
    }

    // The authorisation page's redirect back to the client, as a query (code or error, and state).
    QUrlQuery authorize(Service s, const QByteArray& verifier, const QString& extra = {}) {
        const QByteArray challenge =
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        const QString page = s == Service::dropbox
                                 ? "/dropbox/www/oauth2/authorize?token_access_type=offline&client_id=" +
                                       QString(CloudSim::defaultDropboxAppKey)
                                 : "/google/accounts/o/oauth2/v2/auth?access_type=offline&prompt=consent"
                                   "&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Fdrive.file&client_id=" +
                                       QString(CloudSim::defaultGoogleClientId);
        const norvela::test::HttpReply reply = norvela::test::httpRequest(
            "GET", base + page + "&response_type=code&code_challenge=" + challenge +
                       "&code_challenge_method=S256&state=st%2Bate&redirect_uri=" +
                       QUrl::toPercentEncoding(redirectUri(s)) + extra);
        EXPECT_EQ(reply.status, 302);
        const QUrl location(QString::fromUtf8(reply.header("Location")));
        EXPECT_EQ(location.toString(QUrl::RemoveQuery), redirectUri(s));
        return QUrlQuery(location);
    }

    // The token endpoint's form fields shared by every grant: the client's id, and Google's secret.
    static QString client(Service s) {
        return s == Service::dropbox ? "&client_id=" + QString(CloudSim::defaultDropboxAppKey)
                                     : "&client_id=" + QString(CloudSim::defaultGoogleClientId) +
                                           "&client_secret=" + CloudSim::defaultGoogleClientSecret;
    }
    static QString exchangeForm(Service s, const QString& code, const QByteArray& verifier) {
        return "grant_type=authorization_code&code=" + code + "&code_verifier=" + verifier +
               "&redirect_uri=" + QUrl::toPercentEncoding(redirectUri(s)) + client(s);
    }
    static QString refreshForm(Service s, const QString& refreshToken) {
        return "grant_type=refresh_token&refresh_token=" + refreshToken + client(s);
    }
    norvela::test::HttpReply token(Service s, const QString& form) {
        return norvela::test::httpRequest(
            "POST", base + (s == Service::dropbox ? "/dropbox/api" : "/google") + "/oauth2/token",
            form.toUtf8(), {{"Content-Type", "application/x-www-form-urlencoded"}});
    }

    // Signs in the account the next approval picks; returns the token reply.
    QJsonObject signIn(Service s) {
        const QByteArray verifier = "verifier-0123456789-abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUV";
        const norvela::test::HttpReply reply =
            token(s, exchangeForm(s, authorize(s, verifier).queryItemValue("code"), verifier));
        EXPECT_EQ(reply.status, 200) << reply.body.constData();
        return jsonOf(reply);
    }

    std::unique_ptr<CloudSim> sim;
    QString base;
};

} // namespace cloudsim
