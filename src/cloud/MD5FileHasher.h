#pragma once

#include "FileHasher.h"

namespace norvela {

// MD5 of the whole file, 32 lower-case hex digits, read in 4 MiB blocks.
class MD5FileHasher : public FileHasher {
protected:
    QString digest(BlockReader& reader) const override;
};

} // namespace norvela
