#pragma once

#include "common/NorvelaError.h"

#include <QByteArray>

#include <chrono>
#include <optional>

namespace norvela {

struct HttpResult;

// A request a service failed or refused, sorted by what the caller should do about it.
class ServiceError : public NorvelaError {
public:
    enum class Kind {
        transient,      // network trouble, a 5xx, a 429: the same request may work later
        authorization,  // the service no longer accepts the account's grant: only a new link helps
        quota,          // the account is full
        refused,        // this file cannot be taken as it is (its name, its size): wait for a change
        staleReference, // the service no longer knows the stored reference (a Drive id answered 404)
    };

    // The longest wait a Retry-After header can ask for: a hostile or broken reply must not
    // hold an account back for longer.
    static constexpr std::chrono::seconds maxRetryAfter{3600};

    ServiceError(Kind kind, QString description,
                 std::optional<std::chrono::seconds> retryAfter = std::nullopt)
        : NorvelaError(std::move(description)), m_kind(kind), m_retryAfter(retryAfter) {}

    Kind kind() const { return m_kind; }
    // How long the service asked to be left alone (a Retry-After header), when it did.
    std::optional<std::chrono::seconds> retryAfter() const { return m_retryAfter; }

    // A Retry-After value in seconds, capped at maxRetryAfter; nothing for an HTTP date or
    // anything else that isn't a plain number.
    static std::optional<std::chrono::seconds> parseRetryAfter(const QByteArray& value);
    // What the status alone says, whatever the service: 429 and 5xx are transient and carry
    // the reply's Retry-After. Nothing for other statuses, which each service reads its own way.
    static std::optional<ServiceError> fromStatus(const HttpResult& reply, const QString& description);

private:
    Kind m_kind;
    std::optional<std::chrono::seconds> m_retryAfter;
};

} // namespace norvela
