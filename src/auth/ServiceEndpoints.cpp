#include "ServiceEndpoints.h"

#include "BuildConfig.h"

namespace norvela {

namespace {

QUrl join(const QUrl& base, const QString& path) {
    QUrl url = base;
    QString basePath = url.path();
    if (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    return url;
}

QString orPlaceholder(const char* builtIn, const char* placeholder) {
    const QString value = QString::fromLatin1(builtIn);
    return value.isEmpty() ? QString::fromLatin1(placeholder) : value;
}

} // namespace

QUrl DropboxEndpoints::apiUrl(const QString& path) const {
    return join(api, path);
}
QUrl DropboxEndpoints::contentUrl(const QString& path) const {
    return join(content, path);
}

ServiceEndpoints ServiceEndpoints::production() {
    ServiceEndpoints e;
    e.dropbox = {QUrl(QStringLiteral(NORVELA_DROPBOX_WWW_URL)), QUrl(QStringLiteral(NORVELA_DROPBOX_API_URL)),
                 QUrl(QStringLiteral(NORVELA_DROPBOX_CONTENT_URL)), QStringLiteral(NORVELA_DROPBOX_APP_KEY)};
    const QUrl accounts(QStringLiteral(NORVELA_GOOGLE_ACCOUNTS_URL));
    const QUrl oauth2(QStringLiteral(NORVELA_GOOGLE_OAUTH2_URL));
    const QUrl www(QStringLiteral(NORVELA_GOOGLE_WWW_URL));
    e.google = {join(accounts, QStringLiteral("/o/oauth2/v2/auth")),
                join(oauth2, QStringLiteral("/token")),
                join(oauth2, QStringLiteral("/revoke")),
                join(www, QStringLiteral("/drive/v3")),
                join(www, QStringLiteral("/upload/drive/v3")),
                QStringLiteral(NORVELA_GOOGLE_CLIENT_ID),
                QStringLiteral(NORVELA_GOOGLE_CLIENT_SECRET)};
    e.updateFeed = QUrl(QStringLiteral(NORVELA_UPDATE_FEED_URL));
    return e;
}

ServiceEndpoints ServiceEndpoints::sandbox(const QUrl& base) {
    ServiceEndpoints e;
    e.dropbox = {join(base, QStringLiteral("/dropbox/www")), join(base, QStringLiteral("/dropbox/api")),
                 join(base, QStringLiteral("/dropbox/content")),
                 orPlaceholder(NORVELA_DROPBOX_APP_KEY, "norvelasandbox0")};
    e.google = {join(base, QStringLiteral("/google/accounts/o/oauth2/v2/auth")),
                join(base, QStringLiteral("/google/oauth2/token")),
                join(base, QStringLiteral("/google/oauth2/revoke")),
                join(base, QStringLiteral("/google/www/drive/v3")),
                join(base, QStringLiteral("/google/www/upload/drive/v3")),
                orPlaceholder(NORVELA_GOOGLE_CLIENT_ID,
                              "000000000000-norvelasandboxnorvelasandbox0000.apps.googleusercontent.com"),
                orPlaceholder(NORVELA_GOOGLE_CLIENT_SECRET, "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")};
    e.updateFeed = join(base, QStringLiteral("/updates/appcast.xml"));
    return e;
}

ServiceEndpoints ServiceEndpoints::configured() {
#if NORVELA_ENABLE_SANDBOX
    const QString sandboxUrl = qEnvironmentVariable("NORVELA_SANDBOX_URL");
    if (!sandboxUrl.isEmpty())
        return sandbox(QUrl(sandboxUrl));
#endif
    return production();
}

} // namespace norvela
