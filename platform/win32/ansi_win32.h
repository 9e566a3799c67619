#pragma once

#include <string>
#include <string_view>

namespace trayvo {

// The program's UTF-16 text in the system's ANSI code page (936 on the
// Simplified Chinese systems the program is made for), for the "A" calls.
std::string toAnsi(std::u16string_view text);

} // namespace trayvo
