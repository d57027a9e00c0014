// Snapshot enumerators of connections and connection points.
#include "Enumerators.h"

#include "Module.h"

CEnumConnections::CEnumConnections(const std::vector<CONNECTDATA>& items) : m_refs(1), m_items(items), m_next(0)
{
    for (CONNECTDATA& item : m_items)
        item.pUnk->AddRef();
    CModule::Lock();
}

CEnumConnections::~CEnumConnections()
{
    for (CONNECTDATA& item : m_items)
        item.pUnk->Release();
    CModule::Unlock();
}

STDMETHODIMP CEnumConnections::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnections)) {
        *object = static_cast<IEnumConnections*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumConnections::AddRef() { return InterlockedIncrement(&m_refs); }

STDMETHODIMP_(ULONG) CEnumConnections::Release()
{
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CEnumConnections::Next(ULONG count, CONNECTDATA* items, ULONG* fetched)
{
    if (items == NULL || (count > 1 && fetched == NULL))
        return E_POINTER;
    ULONG done = 0;
    for (; done < count && m_next < m_items.size(); ++done, ++m_next) {
        items[done] = m_items[m_next];
        items[done].pUnk->AddRef();
    }
    if (fetched != NULL)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumConnections::Skip(ULONG count)
{
    size_t left = m_items.size() - m_next;
    m_next += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumConnections::Reset()
{
    m_next = 0;
    return S_OK;
}

STDMETHODIMP CEnumConnections::Clone(IEnumConnections** clone)
{
    if (clone == NULL)
        return E_POINTER;
    CEnumConnections* copy = new CEnumConnections(m_items);
    copy->m_next = m_next;
    *clone = copy;
    return S_OK;
}

CEnumConnectionPoints::CEnumConnectionPoints(const std::vector<IConnectionPoint*>& points)
    : m_refs(1), m_items(points), m_next(0)
{
    for (IConnectionPoint* item : m_items)
        item->AddRef();
    CModule::Lock();
}

CEnumConnectionPoints::~CEnumConnectionPoints()
{
    for (IConnectionPoint* item : m_items)
        item->Release();
    CModule::Unlock();
}

STDMETHODIMP CEnumConnectionPoints::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnectionPoints)) {
        *object = static_cast<IEnumConnectionPoints*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumConnectionPoints::AddRef() { return InterlockedIncrement(&m_refs); }

STDMETHODIMP_(ULONG) CEnumConnectionPoints::Release()
{
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CEnumConnectionPoints::Next(ULONG count, IConnectionPoint** items, ULONG* fetched)
{
    if (items == NULL || (count > 1 && fetched == NULL))
        return E_POINTER;
    ULONG done = 0;
    for (; done < count && m_next < m_items.size(); ++done, ++m_next) {
        items[done] = m_items[m_next];
        items[done]->AddRef();
    }
    if (fetched != NULL)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumConnectionPoints::Skip(ULONG count)
{
    size_t left = m_items.size() - m_next;
    m_next += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumConnectionPoints::Reset()
{
    m_next = 0;
    return S_OK;
}

STDMETHODIMP CEnumConnectionPoints::Clone(IEnumConnectionPoints** clone)
{
    if (clone == NULL)
        return E_POINTER;
    CEnumConnectionPoints* copy = new CEnumConnectionPoints(m_items);
    copy->m_next = m_next;
    *clone = copy;
    return S_OK;
}
