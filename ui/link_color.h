#pragma once

#include "platform/window_layout.h"

namespace trayvo {

// Both windows' links share one colour.
inline constexpr Color linkColor = rgb(20, 159, 211);

} // namespace trayvo
