#pragma once

#include "common/NorvelaError.h"

namespace norvela {

// The error of both authorisation services; its description is what the user reads.
class AuthError : public NorvelaError {
public:
    enum class Kind { accessDenied, badResponse, callbackTimeout, notLinked };
    // Which service speaks: the texts name it ("Unexpected Dropbox response: …").
    enum class Service { dropbox, google };

    static AuthError accessDenied(const QString& text, Service service = Service::dropbox);
    static AuthError badResponse(const QString& text, Service service = Service::dropbox);
    static AuthError callbackTimeout(Service service = Service::dropbox);
    static AuthError notLinked(Service service = Service::dropbox);

    Kind kind() const { return m_kind; }
    const QString& payload() const { return m_payload; }

private:
    AuthError(Kind kind, Service service, QString payload);

    Kind m_kind;
    QString m_payload;
};

} // namespace norvela
