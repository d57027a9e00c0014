// Black-box helpers for the control's tests: creation by ProgID, late-bound calls, an event sink and a site.
#include "ComTestSupport.h"

#include <cstdio>

#include <cstring>

namespace
{
std::string AnsiFromWide(const wchar_t* text, UINT codePage)
{
    int bytes = WideCharToMultiByte(codePage, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(codePage, 0, text, -1, &out[0], bytes, NULL, NULL);
    out.resize(bytes > 0 ? bytes - 1 : 0);
    return out;
}

BSTR BstrFromAnsi(const std::string& text)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
    BSTR out = SysAllocStringLen(NULL, chars > 0 ? chars - 1 : 0);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out, chars);
    return out;
}
} // namespace

std::string Utf8FromWide(const wchar_t* text) { return AnsiFromWide(text, CP_UTF8); }

DISPID CDispatchCaller::Id(const wchar_t* name) const
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    m_dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

HRESULT CDispatchCaller::Get(const wchar_t* name, VARIANT* result) const
{
    DISPPARAMS none = {NULL, NULL, 0, 0};
    VariantInit(result);
    return m_dispatch->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result, NULL, NULL);
}

HRESULT CDispatchCaller::Put(const wchar_t* name, const VARIANT& value) const
{
    VARIANT arg = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&arg, &named, 1, 1};
    return m_dispatch->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, NULL, NULL, NULL);
}

HRESULT CDispatchCaller::Call(const wchar_t* name, VARIANT* result, const std::vector<VARIANT>& args) const
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? NULL : reversed.data(), NULL, static_cast<UINT>(reversed.size()), 0};
    if (result != NULL)
        VariantInit(result);
    return m_dispatch->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, NULL, NULL);
}

std::string CDispatchCaller::GetString(const wchar_t* name) const
{
    VARIANT v;
    if (FAILED(Get(name, &v)) || V_VT(&v) != VT_BSTR)
        return "<not a string>";
    std::string out = AnsiFromWide(V_BSTR(&v) != NULL ? V_BSTR(&v) : L"", CP_ACP);
    VariantClear(&v);
    return out;
}

short CDispatchCaller::GetShort(const wchar_t* name) const
{
    VARIANT v;
    if (FAILED(Get(name, &v)) || V_VT(&v) != VT_I2)
        return -32768;
    return V_I2(&v);
}

void CDispatchCaller::PutString(const wchar_t* name, const std::string& value) const
{
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = BstrFromAnsi(value);
    Put(name, v);
    VariantClear(&v);
}

void CDispatchCaller::PutShort(const wchar_t* name, short value) const
{
    VARIANT v;
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    Put(name, v);
}

void CDispatchCaller::Call0(const wchar_t* name) const { Call(name, NULL); }

short CDispatchCaller::CallShort(const wchar_t* name) const
{
    VARIANT v;
    if (FAILED(Call(name, &v)) || V_VT(&v) != VT_I2)
        return -32768;
    return V_I2(&v);
}

std::string CDispatchCaller::CallString(const wchar_t* name, const std::string& arg) const
{
    VARIANT a;
    V_VT(&a) = VT_BSTR;
    V_BSTR(&a) = BstrFromAnsi(arg);
    VARIANT v;
    HRESULT hr = Call(name, &v, {a});
    VariantClear(&a);
    if (FAILED(hr) || V_VT(&v) != VT_BSTR)
        return "<not a string>";
    std::string out = AnsiFromWide(V_BSTR(&v) != NULL ? V_BSTR(&v) : L"", CP_ACP);
    VariantClear(&v);
    return out;
}

STDMETHODIMP CEventSink::QueryInterface(REFIID iid, void** object)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, eventsIid)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEventSink::Release()
{
    LONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CEventSink::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    events.push_back(id);
    if (handler)
        handler(id);
    return S_OK;
}

DWORD CEventSink::Connect(IUnknown* object)
{
    IProvideClassInfo2* info = NULL;
    if (SUCCEEDED(object->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info)))) {
        info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &eventsIid);
        info->Release();
    }
    IConnectionPointContainer* container = NULL;
    if (FAILED(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        return 0;
    IConnectionPoint* point = NULL;
    DWORD cookie = 0;
    if (SUCCEEDED(container->FindConnectionPoint(eventsIid, &point))) {
        point->Advise(static_cast<IDispatch*>(this), &cookie);
        point->Release();
    }
    container->Release();
    return cookie;
}

void CEventSink::Disconnect(IUnknown* object, DWORD cookie)
{
    IConnectionPointContainer* container = NULL;
    if (FAILED(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        return;
    IConnectionPoint* point = NULL;
    if (SUCCEEDED(container->FindConnectionPoint(eventsIid, &point))) {
        point->Unadvise(cookie);
        point->Release();
    }
    container->Release();
}

STDMETHODIMP CTestSite::QueryInterface(REFIID iid, void** object)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
        *object = static_cast<IOleClientSite*>(this);
    else if (m_window != NULL && (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow)))
        *object = static_cast<IOleInPlaceSite*>(this);
    else {
        *object = NULL;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestSite::Release()
{
    LONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CTestSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                         LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    *frame = NULL;
    *doc = NULL;
    SetRect(pos, 0, 0, 120, 40);
    SetRect(clip, 0, 0, 120, 40);
    info->fMDIApp = FALSE;
    info->hwndFrame = m_window;
    info->haccel = NULL;
    info->cAccelEntries = 0;
    return S_OK;
}

IDispatch* CreateControl(IOleClientSite* site)
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(KEL_PROGID, &clsid)))
        return NULL;
    IDispatch* control = NULL;
    if (FAILED(CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control))))
        return NULL;
    IOleObject* ole = NULL;
    if (site != NULL && SUCCEEDED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)))) {
        ole->SetClientSite(site);
        ole->Release();
    }
    IPersistStreamInit* persist = NULL;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)))) {
        persist->InitNew();
        persist->Release();
    }
    return control;
}

HWND FindReportWindow() { return FindWindowExA(HWND_MESSAGE, NULL, "KelplayerxReportWindow", NULL); }

bool PumpUntil(const std::function<bool()>& pred, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!(pred && pred())) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return pred && pred();
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - spent, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

char* NewText(const char* text)
{
    char* copy = new char[strlen(text) + 1];
    strcpy(copy, text);
    return copy;
}

CWatchdog::CWatchdog(DWORD ms, const char* what) : m_hDone(CreateEventA(NULL, TRUE, FALSE, NULL))
{
    m_thread = std::thread([this, ms, what] {
        if (WaitForSingleObject(m_hDone, ms) == WAIT_TIMEOUT) {
            fprintf(stderr, "%s\n", what);
            ExitProcess(3);
        }
    });
}

CWatchdog::~CWatchdog()
{
    SetEvent(m_hDone);
    m_thread.join();
    CloseHandle(m_hDone);
}
