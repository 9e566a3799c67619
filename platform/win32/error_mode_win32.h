#pragma once

namespace trayvo {

// Makes a drive without a disc fail its query rather than bring up the
// system's "no disk" dialog box, keeping the rest of the error mode the
// program inherited from whoever started it.
void failCriticalErrorsQuietly();

} // namespace trayvo
