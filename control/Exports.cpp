// The exports of kelplayerx.ocx: class objects, unloading and self-registration with the safety categories.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <comcat.h>
#include <objsafe.h>

#include "ClassFactory.h"
#include "Guids.h"
#include "KelplayerCtrl.h"
#include "KelplayerPropPage.h"
#include "Module.h"
#include "Registration.h"

namespace
{
CClassFactory g_controlFactory(CLSID_Kelplayer, CKelplayerCtrl::CreateInstance, CKelplayerCtrl::UpdateRegistry);
CClassFactory g_pageFactory(CLSID_KelplayerPropPage, CKelplayerPropPage::CreateInstance,
                            CKelplayerPropPage::UpdateRegistry);
CClassFactory* const g_factories[] = {&g_controlFactory, &g_pageFactory, NULL};
} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object)
{
    return CClassFactory::GetClassObject(g_factories, clsid, iid, object);
}

STDAPI DllCanUnloadNow() { return CModule::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer()
{
    if (FAILED(RegisterModuleTypeLib()))
        return SELFREG_E_TYPELIB;
    if (FAILED(CClassFactory::UpdateRegistryAll(g_factories, true)))
        return SELFREG_E_CLASS;
    if (FAILED(CreateComponentCategory(CATID_SafeForInitializing, L"Controls safely initializable from persistent data")) ||
        FAILED(RegisterClassImplCategory(CLSID_Kelplayer, CATID_SafeForInitializing)) ||
        FAILED(CreateComponentCategory(CATID_SafeForScripting, L"Controls that are safely scriptable")) ||
        FAILED(RegisterClassImplCategory(CLSID_Kelplayer, CATID_SafeForScripting)))
        return SELFREG_E_CLASS;
    return S_OK;
}

// The category entries stay: other controls may share them.
STDAPI DllUnregisterServer()
{
    if (FAILED(UnregisterModuleTypeLib()))
        return SELFREG_E_TYPELIB;
    if (FAILED(CClassFactory::UpdateRegistryAll(g_factories, false)))
        return SELFREG_E_CLASS;
    return S_OK;
}
