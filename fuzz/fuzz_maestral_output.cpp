// What the external Dropbox client prints for "status" and "history" (its output is used
// only when it is UTF-8).
#include "FuzzSupport.h"
#include "engines/MaestralOutput.h"

#include <QUrl>

using namespace norvela;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QString> text = fuzz::utf8(fuzz::bytes(data, size));
    if (!text)
        return 0;
    const MaestralOutput::Status status = MaestralOutput::parseStatus(*text);
    if (status.account && status.account->email.isEmpty())
        fuzz::broken("an account without its address");

    const QString root = QStringLiteral("/home/user/Dropbox");
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);
    const QList<RecentFile> recent = MaestralOutput::parseHistory(*text, root, now);
    if (recent.size() > 3)
        fuzz::broken("more than three recent files");
    for (const RecentFile& file : recent)
        if (!file.url || !file.url->isLocalFile() || !file.url->toLocalFile().startsWith(root))
            fuzz::broken("a recent file outside the folder's path");

    for (const QString& line : text->split(QLatin1Char('\n')).mid(0, 16))
        (void)MaestralOutput::parseBytes(line);
    return 0;
}
