// Black-box helpers for the control's tests: creation by ProgID, late-bound calls, an event sink and a site.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <functional>
#include <thread>
#include <string>
#include <vector>

#define KEL_PROGID L"KELPLAYERX.KelPlayerCtrl.1"
#define KEL_PAGE_PROGID L"KELPLAYERX.KelPlayerPropPage.1"

// The engine's messages to the control's report window, as the engine sends them.
#define KEL_WM_STOP (WM_APP + 0x03)
#define KEL_WM_ENDED (WM_APP + 0x13)
#define KEL_WM_BUFFERSTATE (WM_APP + 0x21)
#define KEL_WM_METADATA (WM_APP + 0x22)
#define KEL_WM_MESSAGE (WM_APP + 0x31)

// COM on the calling thread for the life of the object.
struct CComScope
{
    CComScope() { OleInitialize(NULL); }
    ~CComScope() { OleUninitialize(); }
};

// Late-bound calls through IDispatch, by name.
class CDispatchCaller
{
public:
    explicit CDispatchCaller(IDispatch* dispatch) : m_dispatch(dispatch) {}
    DISPID Id(const wchar_t* name) const;
    HRESULT Get(const wchar_t* name, VARIANT* result) const;
    HRESULT Put(const wchar_t* name, const VARIANT& value) const;
    HRESULT Call(const wchar_t* name, VARIANT* result, const std::vector<VARIANT>& args = {}) const;

    std::string GetString(const wchar_t* name) const; // as UTF-16 converted to CP_ACP
    short GetShort(const wchar_t* name) const;
    void PutString(const wchar_t* name, const std::string& value) const;
    void PutShort(const wchar_t* name, short value) const;
    void Call0(const wchar_t* name) const;
    short CallShort(const wchar_t* name) const;
    std::string CallString(const wchar_t* name, const std::string& arg) const;

private:
    IDispatch* m_dispatch;
};

// An event sink that records the events' DISPIDs and runs a handler for each.
class CEventSink : public IDispatch
{
public:
    CEventSink() : m_refs(1) {}
    virtual ~CEventSink() {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) override;

    // Connects to the object's default source interface; returns the cookie (0 on failure).
    DWORD Connect(IUnknown* object);
    void Disconnect(IUnknown* object, DWORD cookie);

    std::vector<DISPID> events;
    std::function<void(DISPID)> handler;
    IID eventsIid = IID_NULL;

private:
    LONG m_refs;
};

// A client site that is never asked for in-place activation unless a window is given.
class CTestSite : public IOleClientSite, public IOleInPlaceSite
{
public:
    explicit CTestSite(HWND window = NULL) : m_refs(1), m_window(window) {}
    virtual ~CTestSite() {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override;
    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override { *m = NULL; return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** c) override { *c = NULL; return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* w) override { *w = m_window; return m_window ? S_OK : E_FAIL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return m_window ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { ++activations; return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { ++deactivations; return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    int activations = 0;
    int deactivations = 0;

private:
    LONG m_refs;
    HWND m_window;
};

// Creates the control by its ProgID, as a container would: client site, then InitNew.
IDispatch* CreateControl(IOleClientSite* site = NULL);
// The report window of the one control alive in this process (found by its class).
HWND FindReportWindow();
// Serves the thread's messages for ms milliseconds, or until pred() holds.
bool PumpUntil(const std::function<bool()>& pred, DWORD ms);
// A new CP_ACP text in heap memory, as the engine hands titles over.
char* NewText(const char* text);
std::string Utf8FromWide(const wchar_t* text);

// Ends the process with "what" when it has not been dismissed (destroyed) within ms: a test of a
// hang fails instead of stopping the whole suite.
class CWatchdog
{
public:
    CWatchdog(DWORD ms, const char* what);
    ~CWatchdog();
    CWatchdog(const CWatchdog&) = delete;
    CWatchdog& operator=(const CWatchdog&) = delete;

private:
    HANDLE m_hDone;
    std::thread m_thread;
};
