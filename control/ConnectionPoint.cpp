// The outgoing connection point of one dispinterface.
#include "ConnectionPoint.h"

#include <olectl.h>

#include "Enumerators.h"

CConnectionPoint::CConnectionPoint(IConnectionPointContainer* container, const IID& iid)
    : m_container(container), m_iid(iid), m_nextCookie(1)
{
}

CConnectionPoint::~CConnectionPoint() { UnadviseAll(); }

void CConnectionPoint::Fire(DISPID dispid)
{
    // A copy, so that a handler may advise or unadvise while the event runs.
    std::vector<CSink> sinks = m_sinks;
    for (CSink& s : sinks)
        s.sink->AddRef();
    for (CSink& s : sinks) {
        DISPPARAMS none = {NULL, NULL, 0, 0};
        s.sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, NULL, NULL, NULL);
    }
    for (CSink& s : sinks)
        s.sink->Release();
}

void CConnectionPoint::UnadviseAll()
{
    std::vector<CSink> sinks;
    sinks.swap(m_sinks);
    for (CSink& s : sinks)
        s.sink->Release();
}

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CConnectionPoint::AddRef() { return m_container->AddRef(); }

STDMETHODIMP_(ULONG) CConnectionPoint::Release() { return m_container->Release(); }

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (iid == NULL)
        return E_POINTER;
    *iid = m_iid;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (container == NULL)
        return E_POINTER;
    *container = m_container;
    m_container->AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (sink == NULL || cookie == NULL)
        return E_POINTER;
    *cookie = 0;
    IDispatch* dispatch = NULL;
    // A sink answers for the event interface, or at least as a plain IDispatch.
    if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
        return CONNECT_E_CANNOTCONNECT;
    CSink entry = {m_nextCookie++, dispatch};
    m_sinks.push_back(entry);
    *cookie = entry.cookie;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD cookie)
{
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->cookie == cookie) {
            IDispatch* sink = it->sink;
            m_sinks.erase(it);
            sink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections)
{
    if (connections == NULL)
        return E_POINTER;
    std::vector<CONNECTDATA> items;
    for (CSink& s : m_sinks) {
        CONNECTDATA data = {s.sink, s.cookie};
        items.push_back(data);
    }
    *connections = new CEnumConnections(IID_IEnumConnections, items);
    return S_OK;
}
