#pragma once

#include <QString>

// Words in the application's texts that name a thing of the desktop it runs on.
namespace norvela::PlatformWords {

QString thisComputer(); // "this computer"
QString fileManager();  // "file manager"
QString terminal();     // "a terminal", as in "run … in a terminal"
QString menuBar();      // "system tray": where the app's icon and its dropdown live

} // namespace norvela::PlatformWords
