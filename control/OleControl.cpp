// The control base: identity, dispatch through the type library, events and the report window.
#include "OleControl.h"

#include <olectl.h>

#include "Enumerators.h"
#include "Module.h"
#include "Registration.h"
#include "engine/report/ReportReceiver.h"

namespace
{
const char REPORT_CLASS[] = "KelplayerxReportWindow";
const LONG DESTROYING_REFS = -(LONG_MAX / 2);

// Registered once per process, on first use; the module's windows use its instance.
bool RegisterReportClass(WNDPROC proc)
{
    WNDCLASSA wc = {};
    if (GetClassInfoA(CModule::Instance(), REPORT_CLASS, &wc))
        return true;
    wc.lpfnWndProc = proc;
    wc.hInstance = CModule::Instance();
    wc.lpszClassName = REPORT_CLASS;
    return RegisterClassA(&wc) != 0;
}
} // namespace

COleControl::COleControl(const COleControlInfo& info)
    : m_refs(1), m_info(info), m_eventPoint(this, *info.eventsIid), m_viewAspects(0), m_viewAdviseFlags(0),
      m_hWndReport(NULL), m_hWndVisible(NULL), m_bModified(false), m_freezeCount(0),
      m_dwCallerSafety(0), m_dwDataSafety(0), m_bServesPage(false)
{
    CModule::Lock();
    // 2 x 1 inches, a plain default size for a control that shows nothing.
    m_extent.cx = 5080;
    m_extent.cy = 2540;
    if (RegisterReportClass(ReportWndProc))
        m_hWndReport = CreateWindowExA(0, REPORT_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, CModule::Instance(), this);
}

COleControl::~COleControl()
{
    DestroyReportWindow();
    if (m_hWndVisible != NULL)
        DestroyWindow(m_hWndVisible);
    m_eventPoint.UnadviseAll();
    CModule::Unlock();
}

const char* COleControl::ReportWindowClass() { return REPORT_CLASS; }

bool COleControl::Initialize()
{
    if (FAILED(LoadModuleTypeLib(m_pTypeLib.Out())))
        return false;
    if (FAILED(m_pTypeLib->GetTypeInfoOfGuid(*m_info.dispatchIid, m_pDispatchInfo.Out())))
        return false;
    return SUCCEEDED(m_dispatchTable.Load(m_pDispatchInfo.Get())) && m_hWndReport != NULL;
}

void COleControl::DestroyReportWindow()
{
    if (m_hWndReport != NULL) {
        HWND window = m_hWndReport;
        m_hWndReport = NULL;
        DestroyWindow(window);
    }
}

LRESULT CALLBACK COleControl::ReportWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        CREATESTRUCTA* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    COleControl* control = reinterpret_cast<COleControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (control != NULL && control->m_refs > 0 && ((message >= WM_APP && message <= 0xBFFF) || message == WM_TIMER)) {
        // An event handler may release the control; keep it alive until the handler is done.
        control->AddRef();
        LRESULT result = 0;
        bool handled = control->OnReportMessage(message, wParam, lParam, &result);
        control->Release();
        if (handled)
            return result;
    }
    // Reports (and the control's own timers) that arrive while the control is being destroyed
    // are dropped, and so are those still queued when the window goes; what they own is freed.
    if (TakePlayerReport(NULL, hwnd, message, wParam, lParam))
        return 0;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void COleControl::FireEvent(DISPID id)
{
    if (m_freezeCount == 0)
        m_eventPoint.Fire(id);
}

// IUnknown

STDMETHODIMP COleControl::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    *object = NULL;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, *m_info.dispatchIid))
        *object = static_cast<IDispatch*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
        *object = static_cast<IProvideClassInfo2*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
        *object = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_IOleObject))
        *object = static_cast<IOleObject*>(this);
    else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject))
        *object = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject))
        *object = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(iid, IID_IOleControl))
        *object = static_cast<IOleControl*>(this);
    else if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2))
        *object = static_cast<IViewObject2*>(this);
    else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStreamInit))
        *object = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(iid, IID_IPersistPropertyBag))
        *object = static_cast<IPersistPropertyBag*>(this);
    else if (IsEqualIID(iid, IID_ISpecifyPropertyPages) && m_info.propertyPage != NULL)
        *object = static_cast<ISpecifyPropertyPages*>(this);
    else if (IsEqualIID(iid, IID_IObjectSafety))
        *object = static_cast<IObjectSafety*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COleControl::AddRef() { return ++m_refs; }

STDMETHODIMP_(ULONG) COleControl::Release()
{
    LONG refs = --m_refs;
    if (refs == 0) {
        // Negative while the destructors run: references taken then never delete again.
        m_refs = DESTROYING_REFS;
        delete this;
    }
    return refs;
}

// IDispatch

STDMETHODIMP COleControl::GetTypeInfoCount(UINT* count)
{
    if (count == NULL)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo)
{
    (void)lcid;
    if (typeInfo == NULL)
        return E_POINTER;
    *typeInfo = NULL;
    if (index != 0)
        return DISP_E_BADINDEX;
    return m_pDispatchInfo.CopyTo(typeInfo);
}

STDMETHODIMP COleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    (void)lcid;
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return m_pDispatchInfo->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP COleControl::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excepInfo, UINT* argError)
{
    (void)lcid;
    (void)excepInfo;
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const CDispMember* member = m_dispatchTable.Find(id);
    if (member == NULL)
        return DISP_E_MEMBERNOTFOUND;
    EDispKind kind;
    std::vector<VARIANT> args;
    HRESULT hr = m_dispatchTable.PrepareCall(*member, flags, params, &kind, &args, argError);
    if (FAILED(hr))
        return hr;

    // A handler may release the control's last outside reference.
    AddRef();
    VARIANT value;
    VariantInit(&value);
    if (kind == DISP_KIND_PUT)
        OnSetProperty(id, args[0]);
    else if (kind == DISP_KIND_GET)
        OnGetProperty(id, &value);
    else
        OnCallMethod(id, args, &value);
    ClearVariants(&args);

    if (result != NULL) {
        VariantInit(result);
        if (member->type != VT_EMPTY && kind != DISP_KIND_PUT)
            hr = VariantChangeType(result, &value, 0, member->type);
    }
    VariantClear(&value);
    Release();
    return hr;
}

// IProvideClassInfo2

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** typeInfo)
{
    if (typeInfo == NULL)
        return E_POINTER;
    *typeInfo = NULL;
    return m_pTypeLib->GetTypeInfoOfGuid(*m_info.clsid, typeInfo);
}

STDMETHODIMP COleControl::GetGUID(DWORD kind, GUID* guid)
{
    if (guid == NULL)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = *m_info.eventsIid;
    return S_OK;
}

// IConnectionPointContainer

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points == NULL)
        return E_POINTER;
    std::vector<IConnectionPoint*> items(1, &m_eventPoint);
    *points = new CEnumConnectionPoints(IID_IEnumConnectionPoints, items);
    return S_OK;
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (point == NULL)
        return E_POINTER;
    *point = NULL;
    if (!IsEqualIID(iid, *m_info.eventsIid))
        return CONNECT_E_NOCONNECTION;
    *point = &m_eventPoint;
    m_eventPoint.AddRef();
    return S_OK;
}

// ISpecifyPropertyPages

STDMETHODIMP COleControl::GetPages(CAUUID* pages)
{
    if (pages == NULL)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == NULL)
        return E_OUTOFMEMORY;
    pages->pElems[0] = *m_info.propertyPage;
    pages->cElems = 1;
    return S_OK;
}
