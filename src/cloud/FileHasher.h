#pragma once

#include <QString>

#include <optional>

namespace norvela {

class BlockReader;
class LocalFile;

// Computes from a local file the hash that the provider reports for the same content.
// Stateless, so it may run on any thread.
class FileHasher {
public:
    virtual ~FileHasher() = default;
    // A file someone names (links followed); none when it is not a regular file that can be
    // opened. Never waits on a FIFO.
    std::optional<QString> hash(const QString& filePath) const;
    // A file below a sync root, read from its start through the descriptor opened for it, so
    // what is hashed is what would be uploaded.
    QString hash(const LocalFile& file) const;

protected:
    // The hash of everything `reader` yields.
    virtual QString digest(BlockReader& reader) const = 0;
};

} // namespace norvela
