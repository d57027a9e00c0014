// Snapshot enumerators, as the connection point interfaces hand them out (IEnumConnections, IEnumConnectionPoints).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "Module.h"

// The reference that an enumerated item carries.
inline IUnknown* ItemUnknown(const CONNECTDATA& item) { return item.pUnk; }
inline IUnknown* ItemUnknown(IConnectionPoint* item) { return item; }

// IEnum: the enumerator interface; Item: what it hands out, each with a reference of its own.
template <class IEnum, class Item> class CSnapshotEnum : public IEnum
{
public:
    CSnapshotEnum(const IID& iid, const std::vector<Item>& items) : m_refs(1), m_iid(iid), m_items(items), m_next(0)
    {
        for (const Item& item : m_items)
            ItemUnknown(item)->AddRef();
        CModule::Lock();
    }
    virtual ~CSnapshotEnum()
    {
        for (const Item& item : m_items)
            ItemUnknown(item)->Release();
        CModule::Unlock();
    }
    CSnapshotEnum(const CSnapshotEnum&) = delete;
    CSnapshotEnum& operator=(const CSnapshotEnum&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (object == NULL)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_iid)) {
            *object = static_cast<IEnum*>(this);
            AddRef();
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP Next(ULONG count, Item* items, ULONG* fetched) override
    {
        if (items == NULL || (count > 1 && fetched == NULL))
            return E_POINTER;
        ULONG done = 0;
        for (; done < count && m_next < m_items.size(); ++done, ++m_next) {
            items[done] = m_items[m_next];
            ItemUnknown(items[done])->AddRef();
        }
        if (fetched != NULL)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        size_t left = m_items.size() - m_next;
        m_next += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        m_next = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** clone) override
    {
        if (clone == NULL)
            return E_POINTER;
        CSnapshotEnum* copy = new CSnapshotEnum(m_iid, m_items);
        copy->m_next = m_next;
        *clone = copy;
        return S_OK;
    }

private:
    LONG m_refs;
    const IID& m_iid;
    std::vector<Item> m_items;
    size_t m_next;
};

typedef CSnapshotEnum<IEnumConnections, CONNECTDATA> CEnumConnections;
typedef CSnapshotEnum<IEnumConnectionPoints, IConnectionPoint*> CEnumConnectionPoints;
