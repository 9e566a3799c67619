#pragma once

#include "platform/window_layout.h"

namespace trayvo {

extern const WindowLayout frmAboutLayout;

} // namespace trayvo
