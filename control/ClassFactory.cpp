// Class factories: creation of objects and the module's class lookup.
#include "ClassFactory.h"

#include "Module.h"

STDMETHODIMP CClassFactory::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef()
{
    CModule::Lock();
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CClassFactory::Release()
{
    LONG refs = InterlockedDecrement(&m_refs);
    CModule::Unlock();
    return static_cast<ULONG>(refs);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    *object = NULL;
    if (outer != NULL)
        return CLASS_E_NOAGGREGATION;
    return m_create(iid, object);
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock)
{
    if (lock)
        CModule::Lock();
    else
        CModule::Unlock();
    return S_OK;
}

HRESULT CClassFactory::GetClassObject(CClassFactory* const* factories, REFCLSID clsid, REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    *object = NULL;
    for (; *factories != NULL; ++factories) {
        if (IsEqualCLSID(clsid, (*factories)->ClassId()))
            return (*factories)->QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CClassFactory::UpdateRegistryAll(CClassFactory* const* factories, bool registering)
{
    HRESULT result = S_OK;
    for (; *factories != NULL; ++factories) {
        HRESULT hr = (*factories)->UpdateRegistry(registering);
        if (FAILED(hr))
            result = hr;
    }
    return result;
}
