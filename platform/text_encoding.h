#pragma once

#include <string>
#include <string_view>

namespace trayvo {

// UTF-16 is the program's text; UTF-8 is what Linux paths and C++ exception
// messages carry. Ill-formed input becomes U+FFFD rather than an error, since
// the text only ever ends up on screen or in a path that then fails to open.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);

} // namespace trayvo
