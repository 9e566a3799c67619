#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace trayvo {

// What one control tells assistive technology through MSAA beyond what
// Windows' own object for it says: a name where its own text is not one
// (a picture, a drop-down list named by its label), and for a label that
// acts as a link, the link role and a default action that clicks it.
struct AccessibleTraits {
    std::wstring name; // empty: Windows' own
    bool link = false;
};

// Answers MSAA's requests for the objects of a window's controls
// (WM_GETOBJECT) with Windows' own object for each, given the traits kept
// here. oleacc is loaded at the first request: most runs never get one.
class AccessibleControls {
public:
    AccessibleControls() = default;
    AccessibleControls(const AccessibleControls&) = delete;
    AccessibleControls& operator=(const AccessibleControls&) = delete;

    // The control must be destroyed before this object is.
    void add(HWND control, AccessibleTraits traits);

private:
    static LRESULT CALLBACK subclassProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR id, DWORD_PTR self);
    LRESULT objectFor(HWND control, WPARAM flags) const;

    std::map<HWND, AccessibleTraits> traits_;
};

} // namespace trayvo
