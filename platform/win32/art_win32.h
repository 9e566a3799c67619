#pragma once

#include "platform/window_layout.h"
#include "resources/windows/resource_ids.h"

#include <windows.h>

namespace trayvo {

struct ArtResource {
    int id = 0;
    SIZE size{}; // the picture's own size
};

// Where each picture lives among the exe's resources.
ArtResource artResource(Art art);

} // namespace trayvo
