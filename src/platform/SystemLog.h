#pragma once

#include <QString>

namespace norvela {

// One line to the system log (syslog, ident "Norvela"), echoed on stderr for terminals.
void systemLog(const QString& line);

} // namespace norvela
