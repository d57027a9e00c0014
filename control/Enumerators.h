// Snapshot enumerators of connections and connection points, as the connection point interfaces hand out.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

class CEnumConnections : public IEnumConnections
{
public:
    // Takes a reference on each sink of the snapshot.
    explicit CEnumConnections(const std::vector<CONNECTDATA>& items);
    virtual ~CEnumConnections();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, CONNECTDATA* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnections** clone) override;

private:
    LONG m_refs;
    std::vector<CONNECTDATA> m_items;
    size_t m_next;
};

class CEnumConnectionPoints : public IEnumConnectionPoints
{
public:
    explicit CEnumConnectionPoints(const std::vector<IConnectionPoint*>& points);
    virtual ~CEnumConnectionPoints();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, IConnectionPoint** items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnectionPoints** clone) override;

private:
    LONG m_refs;
    std::vector<IConnectionPoint*> m_items;
    size_t m_next;
};
