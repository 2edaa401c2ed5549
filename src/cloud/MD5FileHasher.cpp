#include "MD5FileHasher.h"

#include "BlockReader.h"
#include "HexDigest.h"

#include <openssl/evp.h>

#include <memory>

namespace norvela {

QString MD5FileHasher::digest(BlockReader& reader) const {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md5(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr);
    for (;;) {
        const auto [data, size] = reader.next();
        if (size == 0)
            break;
        EVP_DigestUpdate(md5.get(), data, size);
    }
    return finishHex(md5.get());
}

} // namespace norvela
