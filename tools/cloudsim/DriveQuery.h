#pragma once

#include "DriveFile.h"

#include <QList>
#include <QString>

#include <optional>

namespace cloudsim {

// The "q" search expression of a Drive file list, reduced to the shape Norvela sends: terms
//   name = '…'   mimeType = '…'   '<id>' in parents   trashed = true|false
// joined by "and". Inside a string, \' is an apostrophe and \\ a backslash.
class DriveQuery {
public:
    // nullopt for anything else, which the service refuses as an invalid value.
    static std::optional<DriveQuery> parse(const QString& text);

    // `trashed` is whether the item counts as trashed (itself or through a folder above it);
    // `rootId` stands in for the alias 'root'.
    bool matches(const DriveFile& file, bool trashed, const QString& rootId) const;

private:
    struct Term {
        enum class Field { name, mimeType, parents, trashed };
        Field field = Field::name;
        QString text;
        bool flag = false;
    };
    QList<Term> m_terms; // none: the empty query, which matches everything
};

} // namespace cloudsim
