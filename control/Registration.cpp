// Registry entries of COM classes, type libraries and component categories.
#include "Registration.h"

#include <objbase.h>
#include <oleauto.h>
#include <comcat.h>

#include <cstdio>
#include <string>

#include "Bstr.h"
#include "ComPtr.h"
#include "Module.h"

namespace
{
std::string GuidText(const GUID& guid)
{
    wchar_t wide[40];
    char text[40];
    StringFromGUID2(guid, wide, 40);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    return text;
}

// Sets a string value under HKEY_CLASSES_ROOT\path (name null: the default value).
bool SetValue(const std::string& path, const char* name, const std::string& value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool CreateKey(const std::string& path)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool DeleteTree(const std::string& path)
{
    LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND)
        return RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str()) != ERROR_ACCESS_DENIED;
    return false;
}

bool RegisterServerKeys(const std::string& classKey, const char* progId, const char* typeName)
{
    bool ok = SetValue(classKey, NULL, typeName) &&
              SetValue(classKey + "\\InprocServer32", NULL, CModule::FileName()) &&
              SetValue(classKey + "\\InprocServer32", "ThreadingModel", "Apartment");
    if (ok && progId != NULL) {
        std::string clsid = classKey.substr(classKey.find('{'));
        ok = SetValue(classKey + "\\ProgID", NULL, progId) && SetValue(progId, NULL, typeName) &&
             SetValue(std::string(progId) + "\\CLSID", NULL, clsid);
    }
    return ok;
}
} // namespace

HRESULT RegisterControlClass(const CControlClassInfo& info)
{
    std::string classKey = "CLSID\\" + GuidText(*info.clsid);
    char number[32];
    bool ok = RegisterServerKeys(classKey, info.progId, info.typeName) && CreateKey(classKey + "\\Control");
    snprintf(number, sizeof(number), "%lu", static_cast<unsigned long>(info.miscStatus));
    ok = ok && SetValue(classKey + "\\MiscStatus", NULL, "0") && SetValue(classKey + "\\MiscStatus\\1", NULL, number);
    snprintf(number, sizeof(number), ", %u", info.toolboxBitmapId);
    ok = ok && SetValue(classKey + "\\ToolboxBitmap32", NULL, CModule::FileName() + number);
    ok = ok && SetValue(classKey + "\\TypeLib", NULL, GuidText(*info.libId));
    snprintf(number, sizeof(number), "%u.%u", info.libMajor, info.libMinor);
    ok = ok && SetValue(classKey + "\\Version", NULL, number);
    return ok ? S_OK : E_FAIL;
}

HRESULT RegisterPlainClass(const CLSID& clsid, const char* progId, const char* typeName)
{
    return RegisterServerKeys("CLSID\\" + GuidText(clsid), progId, typeName) ? S_OK : E_FAIL;
}

HRESULT UnregisterClass(const CLSID& clsid, const char* progId)
{
    bool ok = DeleteTree("CLSID\\" + GuidText(clsid));
    if (progId != NULL)
        ok = DeleteTree(progId) && ok;
    return ok ? S_OK : E_FAIL;
}

HRESULT LoadModuleTypeLib(ITypeLib** typeLib)
{
    std::string path = CModule::FileName();
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0)
        return E_FAIL;
    return LoadTypeLibEx(wide, REGKIND_NONE, typeLib);
}

HRESULT RegisterModuleTypeLib()
{
    CComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadModuleTypeLib(typeLib.Out());
    if (FAILED(hr))
        return hr;
    std::string path = CModule::FileName();
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    return RegisterTypeLib(typeLib.Get(), wide, NULL);
}

HRESULT UnregisterModuleTypeLib()
{
    CComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadModuleTypeLib(typeLib.Out());
    if (FAILED(hr))
        return hr;
    TLIBATTR* attr = NULL;
    hr = typeLib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    // Already gone counts as done, so that unregistering twice succeeds.
    CBstr path;
    if (SUCCEEDED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, path.Out())))
        hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    typeLib->ReleaseTLibAttr(attr);
    return hr;
}

HRESULT CreateComponentCategory(const GUID& catid, const wchar_t* description)
{
    CComPtr<ICatRegister> manager;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, NULL, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                  reinterpret_cast<void**>(manager.Out()));
    if (FAILED(hr))
        return hr;
    CATEGORYINFO info = {};
    info.catid = catid;
    info.lcid = 0x0409;
    // The description field holds at most 127 characters and the terminating zero.
    lstrcpynW(info.szDescription, description, 128);
    return manager->RegisterCategories(1, &info);
}

HRESULT RegisterClassImplCategory(const CLSID& clsid, const GUID& catid)
{
    CComPtr<ICatRegister> manager;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, NULL, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                  reinterpret_cast<void**>(manager.Out()));
    if (FAILED(hr))
        return hr;
    CATID one = catid;
    return manager->RegisterClassImplCategories(clsid, 1, &one);
}
