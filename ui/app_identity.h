#pragma once

#include "platform/window_runtime.h"
#include "resources/texts.h"
#include "resources/version.h"

namespace trayvo {

// Who the program is, as every platform's start hands it to the runtime.
inline constexpr AppIdentity appIdentity{.title = texts::appTitle,
                                         .productName = texts::productName,
                                         .major = version::major,
                                         .minor = version::minor,
                                         .revision = version::revision};

} // namespace trayvo
