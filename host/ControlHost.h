// Hosts one kelplayerx control in a program: creation, client and in-place site, events, late-bound calls.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <functional>
#include <string>

#include "ComPtr.h"

class CControlHost : public IOleClientSite, public IOleInPlaceSite
{
public:
    // onEvent runs on the creating thread for each event the control fires, with its DISPID.
    explicit CControlHost(std::function<void(DISPID)> onEvent);
    virtual ~CControlHost();
    CControlHost(const CControlHost&) = delete;
    CControlHost& operator=(const CControlHost&) = delete;

    // Creates the control by its class identifier; when it is not registered, from the module
    // beside this program. With a window, the control is activated in place at `place` in it;
    // without, it only gets the client site. False when the control cannot be had.
    bool Create(HWND window, const RECT& place);
    // Disconnects the events and lets the control go.
    void Destroy();
    bool IsReady() const { return static_cast<bool>(m_control); }

    // Late-bound calls by DISPID; every failure is only returned.
    HRESULT PutShort(DISPID id, short value);
    HRESULT PutString(DISPID id, const wchar_t* value);
    HRESULT GetShort(DISPID id, short* value);
    HRESULT GetString(DISPID id, std::wstring* value);
    HRESULT Call(DISPID id, VARIANT* args = NULL, UINT count = 0, VARIANT* result = NULL);
    HRESULT CallShort(DISPID id, short* value);

    // IUnknown: the host lives as long as its owner, which outlives the control.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleWindow and IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return m_hWnd != NULL ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

private:
    // The sink on the control's default source interface; hands each event to the host.
    class CEventSink : public IDispatch
    {
    public:
        explicit CEventSink(CControlHost& host) : m_host(host) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP GetTypeInfoCount(UINT* count) override;
        STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
        STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    private:
        CControlHost& m_host;
    };

    HRESULT CreateObject();
    HRESULT Put(DISPID id, VARIANT* value);
    HRESULT GetAs(DISPID id, VARTYPE type, VARIANT* value);
    void ConnectEvents();

    std::function<void(DISPID)> m_onEvent;
    CEventSink m_sink;
    HWND m_hWnd;
    RECT m_place;
    HMODULE m_hModule; // the control's module when it was loaded from beside the program
    CComPtr<IDispatch> m_control;
    CComPtr<IOleObject> m_ole;
    CComPtr<IConnectionPoint> m_point;
    IID m_eventsIid;
    DWORD m_dwCookie;
};
