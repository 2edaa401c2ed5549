// A credential file as found on disk, in either of its formats, and the storage keys made
// from the identities it names.
#include "FuzzSupport.h"
#include "auth/CloudTokenStore.h"

using namespace norvela;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QList<TokenSlot>> slots =
        CloudTokenStore::decode(fuzz::bytes(data, size), QStringLiteral("dropbox"));
    if (!slots)
        return 0;
    for (const TokenSlot& slot : *slots) {
        for (const QString& text : {slot.uid, slot.email, slot.storageKey}) {
            const QString key = CloudTokenStore::sanitize(text);
            if (key.startsWith(QLatin1Char('-')) || key.endsWith(QLatin1Char('-')))
                fuzz::broken("a sanitized key keeps a dash at an end");
        }
    }
    return 0;
}
