#include "DropboxContentHash.h"

#include "BlockReader.h"
#include "HexDigest.h"

#include <openssl/evp.h>

#include <memory>

namespace norvela::DropboxContentHash {

std::optional<QString> hash(const QString& filePath) {
    auto reader = BlockReader::open(filePath, blockSize);
    if (!reader)
        return std::nullopt;
    return digest(*reader);
}

QString digest(BlockReader& reader) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> overall(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> block(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(overall.get(), EVP_sha256(), nullptr);
    for (;;) {
        const auto [data, size] = reader.next();
        if (size == 0)
            break;
        unsigned char blockDigest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        EVP_DigestInit_ex(block.get(), EVP_sha256(), nullptr);
        EVP_DigestUpdate(block.get(), data, size);
        EVP_DigestFinal_ex(block.get(), blockDigest, &digestLength);
        EVP_DigestUpdate(overall.get(), blockDigest, digestLength);
    }
    return finishHex(overall.get());
}

} // namespace norvela::DropboxContentHash
