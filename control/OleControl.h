// Base of an apartment-threaded ActiveX control: dispatch through its type library, events, embedding,
// in-place activation, persistence of version and extent, property pages, safety options, the
// hosting page's address, and a report window.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <objsafe.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "ConnectionPoint.h"
#include "DispatchTable.h"

struct COleControlInfo
{
    const CLSID* clsid;
    const IID* dispatchIid;
    const IID* eventsIid;
    const CLSID* propertyPage; // may be null
    DWORD miscStatus;
    WORD versionMajor; // persisted version
    WORD versionMinor;
};

class COleControl : public IDispatch,
                    public IProvideClassInfo2,
                    public IConnectionPointContainer,
                    public IOleObject,
                    public IOleInPlaceObject,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IViewObject2,
                    public IPersistStreamInit,
                    public IPersistPropertyBag,
                    public ISpecifyPropertyPages,
                    public IObjectSafety
{
public:
    // Creates the report window at once, so that the control can be told things before any
    // container activates it, or when none ever does.
    explicit COleControl(const COleControlInfo& info);
    virtual ~COleControl();
    COleControl(const COleControl&) = delete;
    COleControl& operator=(const COleControl&) = delete;

    // Loads the type information; false when the control cannot work.
    bool Initialize();
    // The window that receives reports: a message-only window, from construction until
    // DestroyReportWindow.
    HWND GetReportWindow() const { return m_hWndReport; }
    // Class name of the report windows of all controls (tests find them by it).
    static const char* ReportWindowClass();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** typeInfo) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT rect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* msg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IViewObject2: the control paints nothing.
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc, HDC dc,
                      LPCRECTL bounds, LPCRECTL window, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR arg) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc,
                             LOGPALETTE** colors) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IObjectSafety: the dispatch interface is safe for untrusted callers, the persistence
    // interfaces for untrusted data, as the control's registered categories say.
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

protected:
    // The members of the dispatch interface, with arguments in their declared types.
    virtual void OnGetProperty(DISPID id, VARIANT* value) = 0;
    virtual void OnSetProperty(DISPID id, const VARIANT& value) = 0;
    virtual void OnCallMethod(DISPID id, const std::vector<VARIANT>& args, VARIANT* result) = 0;
    // Messages of the report window (WM_APP and above, and WM_TIMER); true when handled.
    virtual bool OnReportMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;

    // Calls an event of the event interface on every connected sink, unless events are frozen.
    void FireEvent(DISPID id);
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
    // Destroys the report window early (a derived destructor that must stop reports first).
    void DestroyReportWindow();
    // True when a web page hosts the control: its site shows a page now or did before, or its
    // host made the dispatch interface safe for untrusted callers. *address is the page's
    // address, "" when unknown (an address that shares no host with anything).
    bool GetPageAddress(std::string* address);

private:
    static LRESULT CALLBACK ReportWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK VisibleWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HRESULT InPlaceActivate(IOleClientSite* site, HWND parent, LPCRECT rect);
    // Where the enabled safety options of an interface are kept; null for an interface that is
    // not safe for anything.
    DWORD* SafetyOptionsOf(REFIID iid, DWORD* safe);

    LONG m_refs;
    const COleControlInfo& m_info;
    CComPtr<ITypeLib> m_pTypeLib;
    CComPtr<ITypeInfo> m_pDispatchInfo;
    CDispatchTable m_dispatchTable;
    CConnectionPoint m_eventPoint;
    CComPtr<IOleClientSite> m_pClientSite;
    CComPtr<IOleAdviseHolder> m_pAdviseHolder;
    CComPtr<IAdviseSink> m_pViewSink;
    DWORD m_viewAspects;
    DWORD m_viewAdviseFlags;
    CComPtr<IOleInPlaceSite> m_pInPlaceSite;
    HWND m_hWndReport;
    HWND m_hWndVisible;
    SIZEL m_extent; // HIMETRIC
    bool m_bModified;
    LONG m_freezeCount;
    DWORD m_dwCallerSafety; // enabled options of the dispatch interface
    DWORD m_dwDataSafety;   // enabled options of the persistence interfaces
    // Once a page, always a page: a control taken off its page stays bound to that page's host.
    bool m_bServesPage;
    std::string m_strPageAddress;
};
