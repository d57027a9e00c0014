// The outgoing connection point of one dispinterface: its sinks and the firing of events to them.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

class CConnectionPoint : public IConnectionPoint
{
public:
    // container: the object that owns this point; it also holds this point's references.
    CConnectionPoint(IConnectionPointContainer* container, const IID& iid);
    virtual ~CConnectionPoint();
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    // Calls the method dispid, without parameters, on every sink; a sink may go during the call.
    void Fire(DISPID dispid);
    // Drops every sink (when the owner goes).
    void UnadviseAll();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    struct CSink
    {
        DWORD cookie;
        IDispatch* sink;
    };

    IConnectionPointContainer* m_container;
    const IID& m_iid;
    std::vector<CSink> m_sinks;
    DWORD m_nextCookie;
};
