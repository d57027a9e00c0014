// Owner of one COM interface pointer, released when the owner goes.
#pragma once

#include <windows.h>
#include <unknwn.h>

template <class T> class CComPtr
{
public:
    CComPtr() : m_p(NULL) {}
    explicit CComPtr(T* p) : m_p(p)
    {
        if (m_p != NULL)
            m_p->AddRef();
    }
    CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
    ~CComPtr() { Release(); }
    CComPtr& operator=(const CComPtr& other)
    {
        Assign(other.m_p);
        return *this;
    }

    void Assign(T* p)
    {
        if (p != NULL)
            p->AddRef();
        Release();
        m_p = p;
    }
    void Release()
    {
        if (m_p != NULL)
            m_p->Release();
        m_p = NULL;
    }
    // For out-parameters; the old pointer is released first.
    T** Out()
    {
        Release();
        return &m_p;
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != NULL; }
    // Hands out another reference.
    HRESULT CopyTo(T** out) const
    {
        if (out == NULL)
            return E_POINTER;
        *out = m_p;
        if (m_p == NULL)
            return E_NOINTERFACE;
        m_p->AddRef();
        return S_OK;
    }

private:
    T* m_p;
};
