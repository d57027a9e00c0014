// The main window as screen readers see it: an IAccessible whose children are the skin's controls.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <functional>
#include <string>

// The children, by their child id (1 to ACCESSIBLE_CHILD_COUNT), in the window's reading order.
enum EAccessibleChild
{
    ACCESSIBLE_CLOSE = 1,
    ACCESSIBLE_MINIMISE,
    ACCESSIBLE_DEMAND,
    ACCESSIBLE_RECORD,
    ACCESSIBLE_LOGO,
    ACCESSIBLE_INDICATOR,
    ACCESSIBLE_PLAY,
    ACCESSIBLE_STOP,
    ACCESSIBLE_TITLE,
    ACCESSIBLE_VOLUME,
    ACCESSIBLE_CREDIT,
    ACCESSIBLE_CHILD_COUNT = ACCESSIBLE_CREDIT
};

// What a child is now, as its owner describes it.
struct CAccessibleItem
{
    std::wstring name;
    std::wstring value;  // empty: the child has no value
    std::wstring action; // empty: no default action
    LONG role = 0;
    LONG state = 0;
    RECT place = {0, 0, 0, 0}; // in the window's client coordinates
};

class CWindowAccessible final : public IAccessible
{
public:
    // describe fills the item of a child id; act runs a child's default action. Both run on the
    // window's thread: COM brings a screen reader's calls there.
    CWindowAccessible(HWND window, std::function<void(LONG, CAccessibleItem*)> describe,
                      std::function<void(LONG)> act);
    CWindowAccessible(const CWindowAccessible&) = delete;
    CWindowAccessible& operator=(const CWindowAccessible&) = delete;

    // The window is going: later calls fail, since a screen reader may hold this object past it.
    void Disconnect();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch: screen readers call IAccessible directly; no type information is offered.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    // IAccessible
    STDMETHODIMP get_accParent(IDispatch** parent) override;
    STDMETHODIMP get_accChildCount(LONG* count) override;
    STDMETHODIMP get_accChild(VARIANT child, IDispatch** object) override;
    STDMETHODIMP get_accName(VARIANT child, BSTR* name) override;
    STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override;
    STDMETHODIMP get_accDescription(VARIANT child, BSTR* text) override;
    STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override;
    STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override;
    STDMETHODIMP get_accHelp(VARIANT child, BSTR* text) override;
    STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override;
    STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* text) override;
    STDMETHODIMP get_accFocus(VARIANT* child) override;
    STDMETHODIMP get_accSelection(VARIANT* children) override;
    STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override;
    STDMETHODIMP accSelect(LONG flags, VARIANT child) override;
    STDMETHODIMP accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override;
    STDMETHODIMP accNavigate(LONG direction, VARIANT start, VARIANT* end) override;
    STDMETHODIMP accHitTest(LONG x, LONG y, VARIANT* child) override;
    STDMETHODIMP accDoDefaultAction(VARIANT child) override;
    STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~CWindowAccessible() = default;
    // The child id a VARIANT names (CHILDID_SELF included); -1 when it names none of ours.
    LONG ChildOf(const VARIANT& child) const;
    // Describes a child (not the window itself); false when the window is gone.
    bool Describe(LONG child, CAccessibleItem* item) const;
    static HRESULT Text(const std::wstring& text, BSTR* out);
    HRESULT ChildText(VARIANT child, std::wstring CAccessibleItem::*field, BSTR* text);

    LONG m_nRefs;
    HWND m_hWnd; // NULL once disconnected
    std::function<void(LONG, CAccessibleItem*)> m_describe;
    std::function<void(LONG)> m_act;
};
