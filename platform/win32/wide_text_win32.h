#pragma once

#include <string>
#include <string_view>

namespace trayvo {

// The program's text and Windows' own wide strings are both UTF-16: the
// conversion copies the code units as they are.
inline std::wstring toWide(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

inline std::u16string fromWide(std::wstring_view text)
{
    return std::u16string(text.begin(), text.end());
}

} // namespace trayvo
