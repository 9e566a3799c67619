#include "platform/win32/ansi_win32.h"

#include "platform/win32/wide_text_win32.h"

#include <windows.h>

namespace trayvo {

std::string toAnsi(std::u16string_view text)
{
    const std::wstring wide = toWide(text);
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), size, nullptr,
                          nullptr);
    return ansi;
}

} // namespace trayvo
