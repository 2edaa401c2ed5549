#pragma once

#include <QString>

namespace norvela {

// One stored credential: the refresh token of one linked account and who it belongs to.
struct TokenSlot {
    QString uid;
    QString email;
    QString refreshToken;
    QString storageKey;

    bool operator==(const TokenSlot&) const = default;
};

} // namespace norvela
