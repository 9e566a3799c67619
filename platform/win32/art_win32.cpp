#include "platform/win32/art_win32.h"

namespace trayvo {

ArtResource artResource(Art art)
{
    switch (art) {
    case Art::ProgramIcon: return {TRAYVO_IDI_PROGRAM, {48, 48}};
    case Art::AboutIcon: return {TRAYVO_IDI_ABOUT, {48, 48}};
    case Art::FolderPicture: return {TRAYVO_IDI_FOLDER, {48, 48}};
    case Art::DvdPicture: return {TRAYVO_IDI_DVD, {95, 61}};
    case Art::HandCursor: return {TRAYVO_IDC_HAND, {32, 32}};
    case Art::None: break;
    }
    return {};
}

} // namespace trayvo
