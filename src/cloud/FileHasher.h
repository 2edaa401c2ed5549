#pragma once

#include <QString>

#include <optional>

namespace norvela {

// Computes from a local file the hash that the provider reports for the same content.
// Stateless, so it may run on any thread.
class FileHasher {
public:
    virtual ~FileHasher() = default;
    // None when the file cannot be opened (or is a directory).
    virtual std::optional<QString> hash(const QString& filePath) const = 0;
};

} // namespace norvela
