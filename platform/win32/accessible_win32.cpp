#include "platform/win32/accessible_win32.h"

#include "platform/win32/system_library_win32.h"

#include <commctrl.h>
#include <oleacc.h>

#include <atomic>
#include <utility>

namespace trayvo {
namespace {

// Loaded once and kept: an object handed to a client holds code of both
// for as long as the client keeps it, past any window of ours.
SystemLibrary& oleacc()
{
    static SystemLibrary library(L"oleacc.dll");
    return library;
}

SystemLibrary& oleaut32()
{
    static SystemLibrary library(L"oleaut32.dll");
    return library;
}

BSTR allocString(const std::wstring& text)
{
    auto* allocate = oleaut32().entry<BSTR WINAPI(const OLECHAR*)>("SysAllocString");
    return allocate ? allocate(text.c_str()) : nullptr;
}

bool isSelf(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// COM objects are destroyed by their own Release, never through an
// interface, which therefore has no virtual destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Windows' own object for the control, with the traits laid over it; every
// other question goes to Windows' object.
class AnnotatedAccessible final : public IAccessible {
public:
    AnnotatedAccessible(HWND control, IAccessible* standard, AccessibleTraits traits)
        : control_(control)
        , standard_(standard)
        , traits_(std::move(traits))
    {
        standard_->AddRef();
    }
    ~AnnotatedAccessible() { standard_->Release(); }
    AnnotatedAccessible(const AnnotatedAccessible&) = delete;
    AnnotatedAccessible& operator=(const AnnotatedAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch) && iid != __uuidof(IAccessible)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this; // COM's own lifetime: the last reference goes
        return left;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        if (!isSelf(child) || traits_.name.empty())
            return standard_->get_accName(child, name);
        *name = allocString(traits_.name);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        if (!isSelf(child) || !traits_.link)
            return standard_->get_accRole(child, role);
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_LINK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        const HRESULT result = standard_->get_accState(child, state);
        if (SUCCEEDED(result) && isSelf(child) && traits_.link && state->vt == VT_I4)
            state->lVal |= STATE_SYSTEM_LINKED;
        return result;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        if (!isSelf(child) || !traits_.link)
            return standard_->get_accDefaultAction(child, action);
        *action = allocString(L"单击");
        return *action ? S_OK : E_OUTOFMEMORY;
    }
    // The click comes from the window's own loop, after the call has been
    // answered: the About window is modal, and its loop run inside the call
    // would hold the screen reader until that window closed.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (!isSelf(child) || !traits_.link)
            return standard_->accDoDefaultAction(child);
        // A window that waits for a modal one takes no clicks, nor this.
        if (!::IsWindowEnabled(::GetParent(control_)))
            return E_FAIL;
        const auto id = static_cast<WORD>(::GetDlgCtrlID(control_));
        return ::PostMessageW(::GetParent(control_), WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                              reinterpret_cast<LPARAM>(control_))
                   ? S_OK
                   : E_FAIL;
    }

    // The rest is Windows' own.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override
    {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override
    {
        return standard_->Invoke(id, iid, locale, flags, parameters, result, exception, badArgument);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** found) override
    {
        return standard_->get_accChild(child, found);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override
    {
        return standard_->get_accDescription(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return standard_->get_accFocus(focus); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        return standard_->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override
    {
        return standard_->accHitTest(left, top, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override
    {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return standard_->put_accValue(child, value);
    }

private:
    std::atomic<ULONG> references_{1};
    HWND control_;
    IAccessible* standard_; // a reference held from construction to destruction
    AccessibleTraits traits_;
};

#pragma GCC diagnostic pop

} // namespace

void AccessibleControls::add(HWND control, AccessibleTraits traits)
{
    traits_[control] = std::move(traits);
    ::SetWindowSubclass(control, &subclassProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK AccessibleControls::subclassProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                                       UINT_PTR, DWORD_PTR self)
{
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
        if (const LRESULT object = reinterpret_cast<const AccessibleControls*>(self)->objectFor(control, wParam))
            return object;
    }
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(control, &subclassProcedure, 0);
    return ::DefSubclassProc(control, message, wParam, lParam);
}

// Zero, which leaves the request to Windows, when oleacc cannot be had.
LRESULT AccessibleControls::objectFor(HWND control, WPARAM flags) const
{
    using CreateStandard = HRESULT WINAPI(HWND, LONG, REFIID, void**);
    using ObjectResult = LRESULT WINAPI(REFIID, WPARAM, LPUNKNOWN);
    auto* createStandard = oleacc().entry<CreateStandard>("CreateStdAccessibleObject");
    auto* objectResult = oleacc().entry<ObjectResult>("LresultFromObject");
    const auto traits = traits_.find(control);
    if (!createStandard || !objectResult || traits == traits_.end())
        return 0;
    IAccessible* standard = nullptr;
    if (FAILED(createStandard(control, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&standard))))
        return 0;
    auto* annotated = new AnnotatedAccessible(control, standard, traits->second);
    standard->Release();
    const LRESULT result = objectResult(__uuidof(IAccessible), flags, annotated);
    annotated->Release();
    return result < 0 ? 0 : result;
}

} // namespace trayvo
