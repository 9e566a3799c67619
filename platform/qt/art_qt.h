#pragma once

#include "platform/window_layout.h"

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace trayvo {

QPixmap artPixmap(Art art);
QIcon artIcon(Art art);
// A picture used as a mouse pointer, with its hot spot.
QCursor artCursor(Art art);

} // namespace trayvo
