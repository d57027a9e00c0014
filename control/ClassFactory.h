// A static class factory for one creatable class, with what it needs to register the class.
#pragma once

#include <windows.h>
#include <unknwn.h>

// Creates a new object and asks it for iid.
typedef HRESULT (*CreateObjectFn)(REFIID iid, void** object);
// Registers (true) or unregisters (false) the class.
typedef HRESULT (*UpdateRegistryFn)(bool registering);

class CClassFactory : public IClassFactory
{
public:
    CClassFactory(const CLSID& clsid, CreateObjectFn create, UpdateRegistryFn updateRegistry)
        : m_clsid(clsid), m_create(create), m_updateRegistry(updateRegistry), m_refs(0)
    {
    }

    const CLSID& ClassId() const { return m_clsid; }
    HRESULT UpdateRegistry(bool registering) const { return m_updateRegistry(registering); }

    // IUnknown: the factory is static and never freed, but each reference handed out holds the
    // module loaded, as a live object does, so DllCanUnloadNow says no while a caller keeps one.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    // The DllGetClassObject and UpdateRegistryAll of a module's factories.
    static HRESULT GetClassObject(CClassFactory* const* factories, REFCLSID clsid, REFIID iid, void** object);
    static HRESULT UpdateRegistryAll(CClassFactory* const* factories, bool registering);

private:
    const CLSID& m_clsid;
    CreateObjectFn m_create;
    UpdateRegistryFn m_updateRegistry;
    volatile LONG m_refs; // any caller's thread, through AddRef and Release
};
