// An index file as found on disk. What decodes must survive being written and read again:
// the first write may normalise (a lone surrogate becomes U+FFFD), after that nothing changes.
#include "FuzzSupport.h"
#include "sync/SyncIndex.h"

using namespace norvela;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<SyncIndex::Entries> entries = SyncIndex::decode(fuzz::bytes(data, size));
    if (!entries)
        return 0;
    const std::optional<SyncIndex::Entries> written = SyncIndex::decode(SyncIndex::encode(*entries));
    if (!written)
        fuzz::broken("an encoded index does not decode");
    if (written->size() > entries->size())
        fuzz::broken("a round trip added entries");
    const std::optional<SyncIndex::Entries> again = SyncIndex::decode(SyncIndex::encode(*written));
    if (!again || *again != *written)
        fuzz::broken("a second round trip changed the index");
    for (const SyncIndexEntry& entry : *written)
        if (!entry.mtime.isValid() || !entry.syncedAt.isValid())
            fuzz::broken("a decoded date is invalid");
    return 0;
}
