#pragma once
// The program's own icon, drawn to the same design as the desktop icon (data/sorowa.svg):
// three numbered pictures and an arrow on a 64-unit grid.

#include <QIcon>
#include <QPixmap>

namespace sorowa::platform {

QPixmap ProgramIconPixmap(int side);
// The 32 x 32 and 16 x 16 images.
QIcon ProgramIcon();

} // namespace sorowa::platform
