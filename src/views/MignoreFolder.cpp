#include "MignoreFolder.h"

namespace norvela {

namespace {

QString patternCount(int n) {
    return QString::number(n) +
           (n == 1 ? QStringLiteral(" active pattern") : QStringLiteral(" active patterns"));
}

} // namespace

QString MignoreFolder::cardSubtitle() const {
    if (ruleCount < 0)
        return {};
    if (ruleCount == 0)
        return QStringLiteral("Exclude node_modules, build artifacts and more with gitignore-style rules");
    return patternCount(ruleCount) + QString::fromUtf8(" \u00b7 edit to change what syncs");
}

QString MignoreFolder::rowSubtitle() const {
    const QString count = ruleCount < 0    ? QString()
                          : ruleCount == 0 ? QStringLiteral("no patterns yet")
                                           : patternCount(ruleCount);
    if (owners.isEmpty() || count.isEmpty())
        return owners.isEmpty() ? count : owners;
    return owners + QString::fromUtf8(" \u00b7 ") + count;
}

} // namespace norvela
