// The control base as an embedded object: client site, verbs, in-place activation, IOleControl and view.
#include "OleControl.h"

#include <olectl.h>

#include "Module.h"

namespace
{
const char VISIBLE_CLASS[] = "KelplayerxControlWindow";
}

LRESULT CALLBACK COleControl::VisibleWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Shows only the background; the reports go to the report window, never here.
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HRESULT COleControl::InPlaceActivate(IOleClientSite* site, HWND parent, LPCRECT rect)
{
    if (m_pInPlaceSite)
        return S_OK;
    if (site == NULL)
        site = m_pClientSite.Get();
    if (site == NULL)
        return E_UNEXPECTED;
    CComPtr<IOleInPlaceSite> inPlaceSite;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlaceSite.Out()))))
        return E_NOINTERFACE;
    if (inPlaceSite->CanInPlaceActivate() != S_OK)
        return E_FAIL;
    inPlaceSite->OnInPlaceActivate();

    HWND siteWindow = NULL;
    inPlaceSite->GetWindow(&siteWindow);
    if (siteWindow == NULL)
        siteWindow = parent;
    RECT position = {0, 0, 0, 0};
    RECT clip = {0, 0, 0, 0};
    CComPtr<IOleInPlaceFrame> frame;
    CComPtr<IOleInPlaceUIWindow> document;
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof(frameInfo);
    if (FAILED(inPlaceSite->GetWindowContext(frame.Out(), document.Out(), &position, &clip, &frameInfo)) &&
        rect != NULL)
        position = *rect;

    WNDCLASSA wc = {};
    if (!::GetClassInfoA(CModule::Instance(), VISIBLE_CLASS, &wc)) {
        wc.lpfnWndProc = VisibleWndProc;
        wc.hInstance = CModule::Instance();
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        wc.lpszClassName = VISIBLE_CLASS;
        RegisterClassA(&wc);
    }
    if (siteWindow != NULL) {
        m_hWndVisible = CreateWindowExA(0, VISIBLE_CLASS, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, position.left,
                                        position.top, position.right - position.left, position.bottom - position.top,
                                        siteWindow, NULL, CModule::Instance(), NULL);
    }
    m_pInPlaceSite = inPlaceSite;
    return S_OK;
}

// IOleObject

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site)
{
    // A container that lets go of its site is done with the in-place object too.
    if (site == NULL)
        InPlaceDeactivate();
    m_pClientSite.Assign(site);
    return S_OK;
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** site)
{
    if (site == NULL)
        return E_POINTER;
    *site = m_pClientSite.Get();
    if (*site != NULL)
        (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP COleControl::SetHostNames(LPCOLESTR app, LPCOLESTR object)
{
    (void)app;
    (void)object;
    return S_OK;
}

STDMETHODIMP COleControl::Close(DWORD saveOption)
{
    (void)saveOption;
    InPlaceDeactivate();
    if (m_pAdviseHolder)
        m_pAdviseHolder->SendOnClose();
    return S_OK;
}

STDMETHODIMP COleControl::SetMoniker(DWORD which, IMoniker* moniker)
{
    (void)which;
    (void)moniker;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetMoniker(DWORD assign, DWORD which, IMoniker** moniker)
{
    (void)assign;
    (void)which;
    if (moniker != NULL)
        *moniker = NULL;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::InitFromData(IDataObject* data, BOOL creation, DWORD reserved)
{
    (void)data;
    (void)creation;
    (void)reserved;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetClipboardData(DWORD reserved, IDataObject** data)
{
    (void)reserved;
    if (data != NULL)
        *data = NULL;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT rect)
{
    (void)msg;
    (void)index;
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(site, parent, rect);
    case OLEIVERB_HIDE:
        if (m_hWndVisible != NULL)
            ShowWindow(m_hWndVisible, SW_HIDE);
        return S_OK;
    case OLEIVERB_PROPERTIES:
        if (m_info.propertyPage != NULL) {
            IUnknown* self = static_cast<IDispatch*>(this);
            CLSID page = *m_info.propertyPage;
            return OleCreatePropertyFrame(parent, 0, 0, NULL, 1, &self, 1, &page, LOCALE_USER_DEFAULT, 0, NULL);
        }
        return OLEOBJ_S_INVALIDVERB;
    default:
        return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** verbs) { return OleRegEnumVerbs(*m_info.clsid, verbs); }

STDMETHODIMP COleControl::Update() { return S_OK; }

STDMETHODIMP COleControl::IsUpToDate() { return S_OK; }

STDMETHODIMP COleControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

STDMETHODIMP COleControl::GetUserType(DWORD form, LPOLESTR* name) { return OleRegGetUserType(*m_info.clsid, form, name); }

STDMETHODIMP COleControl::SetExtent(DWORD aspect, SIZEL* size)
{
    if (size == NULL)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    m_extent = *size;
    SetModifiedFlag(true);
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, SIZEL* size)
{
    if (size == NULL)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    *size = m_extent;
    return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* sink, DWORD* connection)
{
    if (!m_pAdviseHolder && FAILED(CreateOleAdviseHolder(m_pAdviseHolder.Out())))
        return E_OUTOFMEMORY;
    return m_pAdviseHolder->Advise(sink, connection);
}

STDMETHODIMP COleControl::Unadvise(DWORD connection)
{
    if (!m_pAdviseHolder)
        return OLE_E_NOCONNECTION;
    return m_pAdviseHolder->Unadvise(connection);
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** advise)
{
    if (advise == NULL)
        return E_POINTER;
    *advise = NULL;
    if (!m_pAdviseHolder)
        return S_OK;
    return m_pAdviseHolder->EnumAdvise(advise);
}

STDMETHODIMP COleControl::GetMiscStatus(DWORD aspect, DWORD* status)
{
    (void)aspect;
    if (status == NULL)
        return E_POINTER;
    *status = m_info.miscStatus;
    return S_OK;
}

STDMETHODIMP COleControl::SetColorScheme(LOGPALETTE* palette)
{
    (void)palette;
    return E_NOTIMPL;
}

// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP COleControl::GetWindow(HWND* window)
{
    if (window == NULL)
        return E_POINTER;
    *window = m_hWndVisible;
    return m_hWndVisible != NULL ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::ContextSensitiveHelp(BOOL enter)
{
    (void)enter;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::InPlaceDeactivate()
{
    if (!m_pInPlaceSite)
        return S_OK;
    if (m_hWndVisible != NULL) {
        DestroyWindow(m_hWndVisible);
        m_hWndVisible = NULL;
    }
    CComPtr<IOleInPlaceSite> site = m_pInPlaceSite;
    m_pInPlaceSite.Release();
    site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP COleControl::UIDeactivate() { return S_OK; }

STDMETHODIMP COleControl::SetObjectRects(LPCRECT position, LPCRECT clip)
{
    (void)clip;
    if (position == NULL)
        return E_POINTER;
    if (m_hWndVisible != NULL)
        MoveWindow(m_hWndVisible, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    return S_OK;
}

STDMETHODIMP COleControl::ReactivateAndUndo() { return E_NOTIMPL; }

STDMETHODIMP COleControl::TranslateAccelerator(LPMSG msg)
{
    (void)msg;
    return S_FALSE;
}

STDMETHODIMP COleControl::OnFrameWindowActivate(BOOL activate)
{
    (void)activate;
    return S_OK;
}

STDMETHODIMP COleControl::OnDocWindowActivate(BOOL activate)
{
    (void)activate;
    return S_OK;
}

STDMETHODIMP COleControl::ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame)
{
    (void)border;
    (void)window;
    (void)frame;
    return S_OK;
}

STDMETHODIMP COleControl::EnableModeless(BOOL enable)
{
    (void)enable;
    return S_OK;
}

// IOleControl

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO* info)
{
    if (info == NULL)
        return E_POINTER;
    info->hAccel = NULL;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP COleControl::OnMnemonic(MSG* msg)
{
    (void)msg;
    return S_OK;
}

STDMETHODIMP COleControl::OnAmbientPropertyChange(DISPID id)
{
    (void)id;
    return S_OK;
}

STDMETHODIMP COleControl::FreezeEvents(BOOL freeze)
{
    if (freeze)
        ++m_freezeCount;
    else if (m_freezeCount > 0)
        --m_freezeCount;
    return S_OK;
}

// IViewObject2

STDMETHODIMP COleControl::Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc,
                               HDC dc, LPCRECTL bounds, LPCRECTL window, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                               ULONG_PTR arg)
{
    (void)index;
    (void)aspectInfo;
    (void)target;
    (void)targetDc;
    (void)dc;
    (void)bounds;
    (void)window;
    (void)cont;
    (void)arg;
    return aspect == DVASPECT_CONTENT ? S_OK : DV_E_DVASPECT;
}

STDMETHODIMP COleControl::GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                                      HDC targetDc, LOGPALETTE** colors)
{
    (void)aspect;
    (void)index;
    (void)aspectInfo;
    (void)target;
    (void)targetDc;
    if (colors != NULL)
        *colors = NULL;
    return S_FALSE;
}

STDMETHODIMP COleControl::Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze)
{
    (void)aspect;
    (void)index;
    (void)aspectInfo;
    if (freeze != NULL)
        *freeze = 0;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::Unfreeze(DWORD freeze)
{
    (void)freeze;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink)
{
    m_viewAspects = aspects;
    m_viewAdviseFlags = flags;
    m_pViewSink.Assign(sink);
    return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink)
{
    if (aspects != NULL)
        *aspects = m_viewAspects;
    if (flags != NULL)
        *flags = m_viewAdviseFlags;
    if (sink != NULL) {
        *sink = m_pViewSink.Get();
        if (*sink != NULL)
            (*sink)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size)
{
    (void)index;
    (void)target;
    return GetExtent(aspect, size);
}
