#pragma once

#include "DriveFile.h"

#include <QString>

#include <memory>
#include <optional>

namespace cloudsim {

// The "q" search expression of a Drive file list, reduced to the terms Norvela sends plus the
// connectives around them:
//   name = '…'   name != '…'   name contains '…'   (the same three for mimeType)
//   trashed = true|false   trashed != …   '<id>' in parents
//   joined by and / or, negated by not, grouped by parentheses.
// Inside a string, \' is an apostrophe and \\ a backslash.
class DriveQuery {
public:
    // nullopt for anything else, which the service refuses as an invalid value.
    static std::optional<DriveQuery> parse(const QString& text);

    // `trashed` is whether the item counts as trashed (itself or through a folder above it);
    // `rootId` stands in for the alias 'root'.
    bool matches(const DriveFile& file, bool trashed, const QString& rootId) const;

    struct Node; // the parsed expression, opaque outside DriveQuery.cpp

private:
    std::shared_ptr<const Node> m_root; // null: the empty query, which matches everything
};

} // namespace cloudsim
