// The main window's IAccessible: names, roles, states, values and places of the skin's controls.
#include "WindowAccessible.h"

CWindowAccessible::CWindowAccessible(HWND window, std::function<void(LONG, CAccessibleItem*)> describe,
                                     std::function<void(LONG)> act)
    : m_nRefs(1), m_hWnd(window), m_describe(std::move(describe)), m_act(std::move(act))
{
}

void CWindowAccessible::Disconnect()
{
    m_hWnd = NULL;
    m_describe = nullptr;
    m_act = nullptr;
}

STDMETHODIMP CWindowAccessible::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CWindowAccessible::AddRef() { return InterlockedIncrement(&m_nRefs); }

STDMETHODIMP_(ULONG) CWindowAccessible::Release()
{
    LONG refs = InterlockedDecrement(&m_nRefs);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CWindowAccessible::GetTypeInfoCount(UINT* count)
{
    if (count == NULL)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

LONG CWindowAccessible::ChildOf(const VARIANT& child) const
{
    if (child.vt != VT_I4 || child.lVal < CHILDID_SELF || child.lVal > ACCESSIBLE_CHILD_COUNT)
        return -1;
    return child.lVal;
}

bool CWindowAccessible::Describe(LONG child, CAccessibleItem* item) const
{
    if (m_hWnd == NULL || !m_describe)
        return false;
    *item = CAccessibleItem();
    m_describe(child, item);
    return true;
}

HRESULT CWindowAccessible::Text(const std::wstring& text, BSTR* out)
{
    if (text.empty())
        return S_FALSE;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != NULL ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CWindowAccessible::get_accParent(IDispatch** parent)
{
    if (parent == NULL)
        return E_POINTER;
    *parent = NULL;
    if (m_hWnd == NULL)
        return RPC_E_DISCONNECTED;
    // The window's own frame object, as the system makes it, is the client area's parent.
    return AccessibleObjectFromWindow(m_hWnd, static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                                      reinterpret_cast<void**>(parent));
}

STDMETHODIMP CWindowAccessible::get_accChildCount(LONG* count)
{
    if (count == NULL)
        return E_POINTER;
    *count = ACCESSIBLE_CHILD_COUNT;
    return m_hWnd != NULL ? S_OK : RPC_E_DISCONNECTED;
}

// The children are simple elements: the window's object answers for them by child id.
STDMETHODIMP CWindowAccessible::get_accChild(VARIANT child, IDispatch** object)
{
    if (object == NULL)
        return E_POINTER;
    *object = NULL;
    return ChildOf(child) > CHILDID_SELF ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CWindowAccessible::get_accName(VARIANT child, BSTR* name)
{
    if (name == NULL)
        return E_POINTER;
    *name = NULL;
    LONG id = ChildOf(child);
    if (id < 0)
        return E_INVALIDARG;
    if (m_hWnd == NULL)
        return RPC_E_DISCONNECTED;
    if (id == CHILDID_SELF) {
        wchar_t caption[128] = L"";
        GetWindowTextW(m_hWnd, caption, 128);
        return Text(caption, name);
    }
    CAccessibleItem item;
    Describe(id, &item);
    return Text(item.name, name);
}

// One of a child's texts as a new string; the window itself has none.
HRESULT CWindowAccessible::ChildText(VARIANT child, std::wstring CAccessibleItem::*field, BSTR* text)
{
    if (text == NULL)
        return E_POINTER;
    *text = NULL;
    LONG id = ChildOf(child);
    if (id < 0)
        return E_INVALIDARG;
    CAccessibleItem item;
    if (id == CHILDID_SELF || !Describe(id, &item))
        return id == CHILDID_SELF ? S_FALSE : RPC_E_DISCONNECTED;
    return Text(item.*field, text);
}

STDMETHODIMP CWindowAccessible::get_accValue(VARIANT child, BSTR* value)
{
    return ChildText(child, &CAccessibleItem::value, value);
}

STDMETHODIMP CWindowAccessible::get_accDescription(VARIANT, BSTR* text)
{
    if (text == NULL)
        return E_POINTER;
    *text = NULL;
    return S_FALSE;
}

STDMETHODIMP CWindowAccessible::get_accRole(VARIANT child, VARIANT* role)
{
    if (role == NULL)
        return E_POINTER;
    VariantInit(role);
    LONG id = ChildOf(child);
    if (id < 0)
        return E_INVALIDARG;
    CAccessibleItem item;
    item.role = ROLE_SYSTEM_CLIENT;
    if (id != CHILDID_SELF && !Describe(id, &item))
        return RPC_E_DISCONNECTED;
    role->vt = VT_I4;
    role->lVal = item.role;
    return S_OK;
}

STDMETHODIMP CWindowAccessible::get_accState(VARIANT child, VARIANT* state)
{
    if (state == NULL)
        return E_POINTER;
    VariantInit(state);
    LONG id = ChildOf(child);
    if (id < 0)
        return E_INVALIDARG;
    if (m_hWnd == NULL)
        return RPC_E_DISCONNECTED;
    CAccessibleItem item;
    if (id == CHILDID_SELF) {
        item.state = STATE_SYSTEM_FOCUSABLE | (GetFocus() == m_hWnd ? STATE_SYSTEM_FOCUSED : 0) |
                     (IsWindowVisible(m_hWnd) ? 0 : STATE_SYSTEM_INVISIBLE);
    } else {
        Describe(id, &item);
    }
    state->vt = VT_I4;
    state->lVal = item.state;
    return S_OK;
}

STDMETHODIMP CWindowAccessible::get_accHelp(VARIANT, BSTR* text)
{
    if (text == NULL)
        return E_POINTER;
    *text = NULL;
    return S_FALSE;
}

STDMETHODIMP CWindowAccessible::get_accHelpTopic(BSTR* file, VARIANT, LONG* topic)
{
    if (file == NULL || topic == NULL)
        return E_POINTER;
    *file = NULL;
    *topic = 0;
    return S_FALSE;
}

STDMETHODIMP CWindowAccessible::get_accKeyboardShortcut(VARIANT, BSTR* text)
{
    if (text == NULL)
        return E_POINTER;
    *text = NULL;
    return S_FALSE;
}

STDMETHODIMP CWindowAccessible::get_accFocus(VARIANT* child)
{
    if (child == NULL)
        return E_POINTER;
    VariantInit(child);
    if (m_hWnd == NULL)
        return RPC_E_DISCONNECTED;
    if (GetFocus() != m_hWnd)
        return S_FALSE;
    child->vt = VT_I4;
    child->lVal = CHILDID_SELF;
    return S_OK;
}

STDMETHODIMP CWindowAccessible::get_accSelection(VARIANT* children)
{
    if (children == NULL)
        return E_POINTER;
    VariantInit(children);
    return S_FALSE;
}

STDMETHODIMP CWindowAccessible::get_accDefaultAction(VARIANT child, BSTR* action)
{
    return ChildText(child, &CAccessibleItem::action, action);
}

STDMETHODIMP CWindowAccessible::accSelect(LONG, VARIANT) { return DISP_E_MEMBERNOTFOUND; }

STDMETHODIMP CWindowAccessible::accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child)
{
    if (left == NULL || top == NULL || width == NULL || height == NULL)
        return E_POINTER;
    *left = *top = *width = *height = 0;
    LONG id = ChildOf(child);
    if (id < 0)
        return E_INVALIDARG;
    if (m_hWnd == NULL)
        return RPC_E_DISCONNECTED;
    RECT place;
    if (id == CHILDID_SELF) {
        GetClientRect(m_hWnd, &place);
    } else {
        CAccessibleItem item;
        Describe(id, &item);
        place = item.place;
    }
    MapWindowPoints(m_hWnd, NULL, reinterpret_cast<POINT*>(&place), 2);
    *left = place.left;
    *top = place.top;
    *width = place.right - place.left;
    *height = place.bottom - place.top;
    return S_OK;
}

STDMETHODIMP CWindowAccessible::accNavigate(LONG direction, VARIANT start, VARIANT* end)
{
    if (end == NULL)
        return E_POINTER;
    VariantInit(end);
    LONG id = ChildOf(start);
    if (id < 0)
        return E_INVALIDARG;
    LONG to = 0;
    switch (direction) {
    case NAVDIR_FIRSTCHILD:
        to = id == CHILDID_SELF ? 1 : 0;
        break;
    case NAVDIR_LASTCHILD:
        to = id == CHILDID_SELF ? ACCESSIBLE_CHILD_COUNT : 0;
        break;
    case NAVDIR_NEXT:
        to = id != CHILDID_SELF && id < ACCESSIBLE_CHILD_COUNT ? id + 1 : 0;
        break;
    case NAVDIR_PREVIOUS:
        to = id > 1 ? id - 1 : 0;
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (to == 0)
        return S_FALSE;
    end->vt = VT_I4;
    end->lVal = to;
    return S_OK;
}

STDMETHODIMP CWindowAccessible::accHitTest(LONG x, LONG y, VARIANT* child)
{
    if (child == NULL)
        return E_POINTER;
    VariantInit(child);
    if (m_hWnd == NULL)
        return RPC_E_DISCONNECTED;
    POINT at = {x, y};
    ScreenToClient(m_hWnd, &at);
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (!PtInRect(&client, at))
        return S_FALSE;
    child->vt = VT_I4;
    child->lVal = CHILDID_SELF;
    for (LONG id = 1; id <= ACCESSIBLE_CHILD_COUNT; ++id) {
        CAccessibleItem item;
        Describe(id, &item);
        if (PtInRect(&item.place, at)) {
            child->lVal = id;
            break;
        }
    }
    return S_OK;
}

STDMETHODIMP CWindowAccessible::accDoDefaultAction(VARIANT child)
{
    LONG id = ChildOf(child);
    if (id < 0)
        return E_INVALIDARG;
    CAccessibleItem item;
    if (id == CHILDID_SELF || !Describe(id, &item))
        return id == CHILDID_SELF ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    if (item.action.empty())
        return DISP_E_MEMBERNOTFOUND;
    m_act(id);
    return S_OK;
}
