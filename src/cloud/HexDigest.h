#pragma once

#include <QString>

#include <openssl/evp.h>

namespace norvela {

// Finishes a digest and spells it as lower-case hex.
inline QString finishHex(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex());
}

} // namespace norvela
