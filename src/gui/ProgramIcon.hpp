// Tabloom's icon, drawn rather than shipped: two tables, the right one merging into the left.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace gui {

QPixmap ProgramPixmap(int size = 32);
QIcon ProgramIcon();

}  // namespace gui
