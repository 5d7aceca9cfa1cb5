#pragma once

#include <QIcon>

namespace meridoc {

// The name shared by the desktop entry, the software-centre metadata and the icon.
inline constexpr char DesktopId[] = "org.meridoc.Meridoc";

// The program's icon, drawn at every size the desktop asks for (16 to 256 pixels).
QIcon programIcon();

// Gives the application the program's icon, which every window shows unless it has one of its
// own, and the desktop entry's name, so that task switchers put the windows under the launcher.
void applyDesktopIdentity();

} // namespace meridoc
