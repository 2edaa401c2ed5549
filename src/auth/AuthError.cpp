#include "AuthError.h"

namespace norvela {

namespace {

QString describe(AuthError::Kind kind, AuthError::Service service, const QString& payload) {
    const bool google = service == AuthError::Service::google;
    switch (kind) {
    case AuthError::Kind::accessDenied:
        return (google ? QStringLiteral("Google denied access: ")
                       : QStringLiteral("Dropbox denied access: ")) +
               payload;
    case AuthError::Kind::badResponse:
        return (google ? QStringLiteral("Unexpected Google response: ")
                       : QStringLiteral("Unexpected Dropbox response: ")) +
               payload;
    case AuthError::Kind::callbackTimeout:
        return QStringLiteral("Timed out waiting for the browser.");
    case AuthError::Kind::notLinked:
        return google ? QStringLiteral("No Google Drive account is linked.")
                      : QStringLiteral("No Dropbox account is linked.");
    }
    return {};
}

} // namespace

AuthError::AuthError(Kind kind, Service service, QString payload)
    : NorvelaError(describe(kind, service, payload)), m_kind(kind), m_payload(std::move(payload)) {}

AuthError AuthError::accessDenied(const QString& text, Service service) {
    return {Kind::accessDenied, service, text};
}
AuthError AuthError::badResponse(const QString& text, Service service) {
    return {Kind::badResponse, service, text};
}
AuthError AuthError::callbackTimeout(Service service) {
    return {Kind::callbackTimeout, service, {}};
}
AuthError AuthError::notLinked(Service service) {
    return {Kind::notLinked, service, {}};
}

} // namespace norvela
