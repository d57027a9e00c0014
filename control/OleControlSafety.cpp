// The control base's safety options (IObjectSafety) and the address of the page that hosts it.
#include "OleControl.h"

#include "ComPtr.h"
#include "PageAddress.h"

DWORD* COleControl::SafetyOptionsOf(REFIID iid, DWORD* safe)
{
    *safe = 0;
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, *m_info.dispatchIid)) {
        *safe = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
        return &m_dwCallerSafety;
    }
    if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStreamInit) ||
        IsEqualIID(iid, IID_IPersistPropertyBag)) {
        *safe = INTERFACESAFE_FOR_UNTRUSTED_DATA;
        return &m_dwDataSafety;
    }
    return NULL;
}

STDMETHODIMP COleControl::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled)
{
    if (supported == NULL || enabled == NULL)
        return E_POINTER;
    *supported = 0;
    *enabled = 0;
    CComPtr<IUnknown> probe;
    if (FAILED(QueryInterface(iid, reinterpret_cast<void**>(probe.Out()))))
        return E_NOINTERFACE;
    DWORD* options = SafetyOptionsOf(iid, supported);
    if (options != NULL)
        *enabled = *options;
    return S_OK;
}

STDMETHODIMP COleControl::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled)
{
    CComPtr<IUnknown> probe;
    if (FAILED(QueryInterface(iid, reinterpret_cast<void**>(probe.Out()))))
        return E_NOINTERFACE;
    DWORD safe = 0;
    DWORD* options = SafetyOptionsOf(iid, &safe);
    if ((mask & enabled & ~safe) != 0)
        return E_FAIL;
    if (options != NULL)
        *options = (*options & ~mask) | (mask & enabled);
    // A host that calls our callers untrusted is a page's, whether or not it shows its address.
    if ((m_dwCallerSafety & INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0)
        m_bServesPage = true;
    return S_OK;
}

bool COleControl::GetPageAddress(std::string* address)
{
    std::string found;
    if (FindPageAddress(m_pClientSite.Get(), &found)) {
        m_bServesPage = true;
        m_strPageAddress = found;
    }
    *address = m_strPageAddress;
    return m_bServesPage;
}
