#pragma once

#include <QString>
#include <QUrl>

namespace norvela {

// Where the Dropbox service lives, and the app's client identifier there.
struct DropboxEndpoints {
    QUrl authorizationPage; // + "/oauth2/authorize"
    QUrl api;               // + "/oauth2/token", "/2/…"
    QUrl content;           // + "/2/files/…"
    QString appKey;

    QUrl apiUrl(const QString& path) const;
    QUrl contentUrl(const QString& path) const;
};

// Where the Google OAuth and Drive services live, and the app's client credentials.
struct GoogleEndpoints {
    QUrl authorization; // "/o/oauth2/v2/auth"
    QUrl token;         // "/token"
    QUrl revocation;    // "/revoke"
    QUrl drive;         // "/drive/v3"
    QUrl upload;        // "/upload/drive/v3"
    QString clientId;
    QString clientSecret;
};

// Every endpoint and client credential in one place. Classes that make requests take
// these in their constructor, so tests and demos can aim them at the local emulator.
struct ServiceEndpoints {
    DropboxEndpoints dropbox;
    GoogleEndpoints google;
    QUrl updateFeed; // the appcast that announces new releases

    // The build's configuration; in development builds NORVELA_SANDBOX_URL, when set,
    // points everything at the emulator at that base URL.
    static ServiceEndpoints configured();
    static ServiceEndpoints production();
    // The emulator's layout below `base`, with placeholder client credentials of the right
    // shapes unless real ones were built in.
    static ServiceEndpoints sandbox(const QUrl& base);
};

} // namespace norvela
