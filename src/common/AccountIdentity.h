#pragma once

#include <QString>

namespace norvela {

// Who a cloud account is: the service's id for it (stable) and its e-mail address (which a
// user may change). Either may be unknown (empty).
struct AccountIdentity {
    QString uid;
    QString email;

    bool isEmpty() const { return uid.isEmpty() && email.isEmpty(); }
    // Whether this is certainly another account than `other`: the ids differ, or, where an
    // id is missing on either side, the addresses do. Unknown never contradicts.
    bool contradicts(const AccountIdentity& other) const {
        if (!uid.isEmpty() && !other.uid.isEmpty())
            return uid != other.uid;
        if (!email.isEmpty() && !other.email.isEmpty())
            return email.compare(other.email, Qt::CaseInsensitive) != 0;
        return false;
    }
    // What is known of either, `other` winning where both know.
    AccountIdentity mergedWith(const AccountIdentity& other) const {
        return {other.uid.isEmpty() ? uid : other.uid, other.email.isEmpty() ? email : other.email};
    }

    bool operator==(const AccountIdentity&) const = default;
};

} // namespace norvela
