#include "ScannedFile.h"

namespace norvela {

QDateTime ScannedFile::distantPast() {
    static const QDateTime past(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    return past;
}

} // namespace norvela
