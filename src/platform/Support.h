#pragma once

#include <QString>
#include <QUrl>

namespace norvela {
class DesktopServices;
}

// Feedback by mail: a message to the support address, pre-filled with what a reply needs
// to know about this copy of Norvela and the system it runs on.
namespace norvela::Support {

// Where feedback mail goes, as the preferences show it.
QString address();

// "mailto:<support address>?subject=…&body=…"; an empty version or build reads "?".
QUrl feedbackUrl(const QString& version, const QString& build, const QString& osLine);

// Opens the feedback message of this build in the mail handler; nothing when it cannot be formed.
void composeFeedback(DesktopServices& desktop);

// The operating system's name and version on one line, e.g. "Debian GNU/Linux 12 (bookworm)".
QString operatingSystemLine();

// PRETTY_NAME of an os-release(5) file, unquoted; empty when the file or the key is missing.
QString osReleasePrettyName(const QString& filePath);

} // namespace norvela::Support
