// An index file as found on disk. What decodes must survive being written and read again:
// the first write may normalise (a lone surrogate becomes U+FFFD), after that nothing changes.
#include "FuzzSupport.h"
#include "sync/SyncIndex.h"

using namespace norvela;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AccountIdentity owner;
    const std::optional<SyncIndex::Entries> entries = SyncIndex::decode(fuzz::bytes(data, size), &owner);
    if (!entries)
        return 0;
    AccountIdentity writtenOwner;
    const std::optional<SyncIndex::Entries> written =
        SyncIndex::decode(SyncIndex::encode(*entries, owner), &writtenOwner);
    if (!written)
        fuzz::broken("an encoded index does not decode");
    if (written->size() > entries->size())
        fuzz::broken("a round trip added entries");
    AccountIdentity againOwner;
    const std::optional<SyncIndex::Entries> again =
        SyncIndex::decode(SyncIndex::encode(*written, writtenOwner), &againOwner);
    if (!again || *again != *written || againOwner != writtenOwner)
        fuzz::broken("a second round trip changed the index");
    for (const SyncIndexEntry& entry : *written)
        if (!entry.syncedAt.isValid() || (entry.stamp && entry.stamp->size < 0))
            fuzz::broken("a decoded entry is invalid");
    return 0;
}
