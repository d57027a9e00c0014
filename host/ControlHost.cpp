// Hosting one kelplayerx control: created by class identifier, sited, activated and called by DISPID.
#include "ControlHost.h"

#include "Guids.h"

namespace
{
const CLSID CLSID_KELPLAYER = guid_text::Parse(KELPLAYERX_CLSID_CONTROL_TEXT);
const char CONTROL_FILE[] = "kelplayerx.ocx";

typedef HRESULT(STDAPICALLTYPE* GetClassObjectProc)(REFCLSID, REFIID, void**);
} // namespace

CControlHost::CControlHost(std::function<void(DISPID)> onEvent)
    : m_onEvent(std::move(onEvent)), m_sink(*this), m_hWnd(NULL), m_place(), m_hModule(NULL), m_eventsIid(IID_NULL),
      m_dwCookie(0)
{
}

CControlHost::~CControlHost()
{
    Destroy();
    // Only now: the control's code must stay loaded until the last reference to it is gone.
    if (m_hModule != NULL)
        FreeLibrary(m_hModule);
}

// A registered control comes through COM; otherwise the module beside the program is asked for
// its class object directly, so that copying the program with the control is enough to run it.
HRESULT CControlHost::CreateObject()
{
    HRESULT hr = CoCreateInstance(CLSID_KELPLAYER, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(m_control.Out()));
    if (SUCCEEDED(hr))
        return hr;

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return hr;
    char* slash = strrchr(path, '\\');
    if (slash == NULL || static_cast<size_t>(slash + 1 - path) + sizeof(CONTROL_FILE) > MAX_PATH)
        return hr;
    memcpy(slash + 1, CONTROL_FILE, sizeof(CONTROL_FILE));
    m_hModule = LoadLibraryA(path);
    if (m_hModule == NULL)
        return hr;
    GetClassObjectProc getClassObject =
        reinterpret_cast<GetClassObjectProc>(reinterpret_cast<void*>(GetProcAddress(m_hModule, "DllGetClassObject")));
    CComPtr<IClassFactory> factory;
    if (getClassObject == NULL ||
        FAILED(getClassObject(CLSID_KELPLAYER, IID_IClassFactory, reinterpret_cast<void**>(factory.Out()))))
        return hr;
    return factory->CreateInstance(NULL, IID_IDispatch, reinterpret_cast<void**>(m_control.Out()));
}

bool CControlHost::Create(HWND window, const RECT& place)
{
    m_hWnd = window;
    m_place = place;
    if (FAILED(CreateObject())) {
        m_control.Release();
        return false;
    }
    if (SUCCEEDED(m_control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(m_ole.Out()))))
        m_ole->SetClientSite(this);
    CComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(m_control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.Out()))))
        persist->InitNew();
    if (m_ole && m_hWnd != NULL)
        m_ole->DoVerb(OLEIVERB_INPLACEACTIVATE, NULL, this, 0, m_hWnd, &m_place);
    ConnectEvents();
    return true;
}

void CControlHost::ConnectEvents()
{
    CComPtr<IProvideClassInfo2> info;
    if (SUCCEEDED(m_control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(info.Out()))))
        info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &m_eventsIid);
    CComPtr<IConnectionPointContainer> container;
    if (SUCCEEDED(m_control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out()))) &&
        SUCCEEDED(container->FindConnectionPoint(m_eventsIid, m_point.Out())))
        m_point->Advise(&m_sink, &m_dwCookie);
}

void CControlHost::Destroy()
{
    if (m_point) {
        m_point->Unadvise(m_dwCookie);
        m_point.Release();
    }
    if (m_ole) {
        m_ole->Close(OLECLOSE_NOSAVE);
        m_ole->SetClientSite(NULL);
        m_ole.Release();
    }
    m_control.Release();
}

HRESULT CControlHost::Put(DISPID id, VARIANT* value)
{
    if (!m_control)
        return E_UNEXPECTED;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, &named, 1, 1};
    return m_control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, NULL, NULL, NULL);
}

HRESULT CControlHost::PutShort(DISPID id, short value)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_I2;
    V_I2(&arg) = value;
    return Put(id, &arg);
}

HRESULT CControlHost::PutString(DISPID id, const wchar_t* value)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = SysAllocString(value);
    HRESULT hr = Put(id, &arg);
    VariantClear(&arg);
    return hr;
}

// A property's value converted to the wanted type; the caller clears it.
HRESULT CControlHost::GetAs(DISPID id, VARTYPE type, VARIANT* value)
{
    VariantInit(value);
    if (!m_control)
        return E_UNEXPECTED;
    DISPPARAMS none = {NULL, NULL, 0, 0};
    HRESULT hr = m_control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, NULL, NULL);
    return SUCCEEDED(hr) ? VariantChangeType(value, value, 0, type) : hr;
}

HRESULT CControlHost::GetShort(DISPID id, short* value)
{
    VARIANT result;
    HRESULT hr = GetAs(id, VT_I2, &result);
    if (SUCCEEDED(hr))
        *value = V_I2(&result);
    VariantClear(&result);
    return hr;
}

HRESULT CControlHost::GetString(DISPID id, std::wstring* value)
{
    VARIANT result;
    HRESULT hr = GetAs(id, VT_BSTR, &result);
    if (SUCCEEDED(hr))
        value->assign(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
    VariantClear(&result);
    return hr;
}

HRESULT CControlHost::Call(DISPID id, VARIANT* args, UINT count, VARIANT* result)
{
    // The result is always initialised: a caller clears it whatever the call returned.
    if (result != NULL)
        VariantInit(result);
    if (!m_control)
        return E_UNEXPECTED;
    DISPPARAMS params = {args, NULL, count, 0};
    return m_control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, NULL, NULL);
}

HRESULT CControlHost::CallShort(DISPID id, short* value)
{
    VARIANT result;
    HRESULT hr = Call(id, NULL, 0, &result);
    if (SUCCEEDED(hr))
        hr = VariantChangeType(&result, &result, 0, VT_I2);
    if (SUCCEEDED(hr))
        *value = V_I2(&result);
    VariantClear(&result);
    return hr;
}

STDMETHODIMP CControlHost::QueryInterface(REFIID iid, void** object)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
        *object = static_cast<IOleClientSite*>(this);
    else if (m_hWnd != NULL && (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)))
        *object = static_cast<IOleInPlaceSite*>(this);
    else {
        *object = NULL;
        return E_NOINTERFACE;
    }
    return S_OK;
}

STDMETHODIMP CControlHost::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    *moniker = NULL;
    return E_NOTIMPL;
}

STDMETHODIMP CControlHost::GetContainer(IOleContainer** container)
{
    // A program, not a document: there is no container to offer.
    *container = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP CControlHost::GetWindow(HWND* window)
{
    *window = m_hWnd;
    return m_hWnd != NULL ? S_OK : E_FAIL;
}

STDMETHODIMP CControlHost::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                            LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    // No frame or document of our own: the control is never UI-activated.
    *frame = NULL;
    *document = NULL;
    *position = m_place;
    *clip = m_place;
    info->fMDIApp = FALSE;
    info->hwndFrame = m_hWnd;
    info->haccel = NULL;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP CControlHost::CEventSink::QueryInterface(REFIID iid, void** object)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, m_host.m_eventsIid)) {
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP CControlHost::CEventSink::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

STDMETHODIMP CControlHost::CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    if (m_host.m_onEvent)
        m_host.m_onEvent(id);
    return S_OK;
}
