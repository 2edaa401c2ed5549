#pragma once

#include <QUrl>

namespace norvela {

// Opens a web page in the user's default browser; false when nothing could be started.
bool openInBrowser(const QUrl& url);

} // namespace norvela
