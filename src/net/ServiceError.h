#pragma once

#include "common/NorvelaError.h"

#include <chrono>
#include <optional>

namespace norvela {

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

    ServiceError(Kind kind, QString description,
                 std::optional<std::chrono::seconds> retryAfter = std::nullopt)
        : NorvelaError(std::move(description)), m_kind(kind), m_retryAfter(retryAfter) {}

    Kind kind() const { return m_kind; }
    // How long the service asked to be left alone (a Retry-After header), when it did.
    std::optional<std::chrono::seconds> retryAfter() const { return m_retryAfter; }

private:
    Kind m_kind;
    std::optional<std::chrono::seconds> m_retryAfter;
};

} // namespace norvela
