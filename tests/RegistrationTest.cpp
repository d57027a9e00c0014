// Self-registration through regsvr32, the registered type library, and the module's resources.
#include <gtest/gtest.h>

#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ComTestSupport.h"

namespace
{
const char CATID_SCRIPTING[] = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const char CATID_INITIALIZING[] = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";

std::string OcxPath()
{
    std::string path = std::string("Z:") + KEL_OCX_PATH;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

DWORD Regsvr32(const std::string& options)
{
    std::string command = "regsvr32.exe " + options + " \"" + OcxPath() + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

bool KeyExists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string Value(const std::string& path, const char* name = NULL)
{
    char data[1024] = "";
    DWORD size = sizeof(data);
    if (RegGetValueA(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, NULL, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return data;
}

std::vector<std::string> Subkeys(const std::string& path)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ClassIdText(const wchar_t* progId)
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid)))
        return "<none>";
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return Utf8FromWide(text);
}

class Registration : public ::testing::Test
{
protected:
    CComScope com;
};
} // namespace

TEST_F(Registration, RegisteringTwiceLeavesOneSetOfEntries)
{
    ASSERT_EQ(Regsvr32("/s"), 0u);
    ASSERT_EQ(Regsvr32("/s"), 0u);
    std::string clsid = ClassIdText(KEL_PROGID);
    std::string key = "CLSID\\" + clsid;
    EXPECT_EQ(Subkeys(key), std::vector<std::string>({"Control", "Implemented Categories", "InprocServer32",
                                                       "MiscStatus", "ProgID", "ToolboxBitmap32", "TypeLib", "Version"}));
    EXPECT_EQ(Value(key), "Kelplayer Control");
    EXPECT_EQ(Value(key + "\\InprocServer32"), OcxPath());
    EXPECT_EQ(Value(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(key + "\\ProgID"), "KELPLAYERX.KelPlayerCtrl.1");
    EXPECT_EQ(Value(key + "\\MiscStatus\\1"), "131473");
    EXPECT_EQ(Value(key + "\\ToolboxBitmap32"), OcxPath() + ", 1");
    EXPECT_EQ(Value(key + "\\Version"), "1.0");
    EXPECT_EQ(Subkeys(key + "\\Implemented Categories"), std::vector<std::string>({CATID_SCRIPTING, CATID_INITIALIZING}));
    EXPECT_EQ(Value("KELPLAYERX.KelPlayerCtrl.1"), "Kelplayer Control");
    EXPECT_EQ(Subkeys("KELPLAYERX.KelPlayerCtrl.1"), std::vector<std::string>({"CLSID"}));

    std::string page = "CLSID\\" + ClassIdText(KEL_PAGE_PROGID);
    EXPECT_EQ(Value(page), "Kelplayer Property Page");
    EXPECT_EQ(Value(page + "\\InprocServer32", "ThreadingModel"), "Apartment");

    std::string lib = "TypeLib\\" + Value(key + "\\TypeLib");
    EXPECT_EQ(Subkeys(lib), std::vector<std::string>({"1.0"}));
    EXPECT_EQ(Value(lib + "\\1.0"), "kelplayerx ActiveX Control module");
    EXPECT_EQ(Value("Component Categories\\" + std::string(CATID_SCRIPTING), "409"), "Controls that are safely scriptable");
    EXPECT_EQ(Value("Component Categories\\" + std::string(CATID_INITIALIZING), "409"),
              "Controls safely initializable from persistent data");
}

TEST_F(Registration, TheRegisteredTypeLibraryReadsBack)
{
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(KEL_PROGID, &clsid), S_OK);
    wchar_t wide[40];
    StringFromGUID2(clsid, wide, 40);
    std::string libText = Value("CLSID\\" + Utf8FromWide(wide) + "\\TypeLib");
    std::wstring libWide(libText.begin(), libText.end());
    GUID libid;
    ASSERT_EQ(CLSIDFromString(libWide.c_str(), &libid), S_OK);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(libid, 1, 0, 0x0409, &lib), S_OK);

    TLIBATTR* libAttr = nullptr;
    lib->GetLibAttr(&libAttr);
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    EXPECT_EQ(libAttr->lcid, 0x0409u);
    EXPECT_TRUE(libAttr->wLibFlags & LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(libAttr);
    BSTR name = NULL, doc = NULL, help = NULL;
    lib->GetDocumentation(-1, &name, &doc, NULL, &help);
    EXPECT_EQ(Utf8FromWide(name), "KELPLAYERXLib");
    EXPECT_EQ(Utf8FromWide(doc), "kelplayerx ActiveX Control module");
    EXPECT_NE(Utf8FromWide(help).find("kelplayerx.hlp"), std::string::npos);
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(help);

    // The coclass: creatable control, _DKelplayer by default and _DKelplayerEvents as default source.
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(clsid, &coclass), S_OK);
    TYPEATTR* attr = nullptr;
    coclass->GetTypeAttr(&attr);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCONTROL);
    ASSERT_EQ(attr->cImplTypes, 2);
    coclass->ReleaseTypeAttr(attr);
    ITypeInfo* infos[2] = {};
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE ref;
        INT flags = 0;
        coclass->GetRefTypeOfImplType(i, &ref);
        coclass->GetImplTypeFlags(i, &flags);
        coclass->GetRefTypeInfo(ref, &infos[i]);
        EXPECT_EQ(flags, i == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    }
    coclass->Release();

    // _DKelplayer
    infos[0]->GetTypeAttr(&attr);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    EXPECT_EQ(attr->cVars, 3);
    infos[0]->ReleaseTypeAttr(attr);
    const struct
    {
        const char* name;
        VARTYPE vt;
    } properties[] = {{"volume", VT_I2}, {"url", VT_BSTR}, {"metadata", VT_BSTR}};
    for (int i = 0; i < 3; ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(infos[0]->GetVarDesc(i, &var), S_OK);
        EXPECT_EQ(var->memid, i + 1);
        EXPECT_EQ(var->elemdescVar.tdesc.vt, properties[i].vt);
        EXPECT_EQ(var->varkind, VAR_DISPATCH);
        EXPECT_FALSE(var->wVarFlags & VARFLAG_FREADONLY);
        BSTR varName = NULL;
        infos[0]->GetDocumentation(var->memid, &varName, NULL, NULL, NULL);
        EXPECT_EQ(Utf8FromWide(varName), properties[i].name);
        SysFreeString(varName);
        infos[0]->ReleaseVarDesc(var);
    }
    const struct
    {
        DISPID id;
        const char* name;
        VARTYPE result;
        SHORT params;
    } methods[] = {{4, "Play", VT_VOID, 0}, {5, "Stop", VT_VOID, 0}, {6, "getBufferState", VT_I2, 0}, {7, "getCount", VT_BSTR, 1}};
    for (const auto& m : methods) {
        UINT index = 0;
        ITypeInfo2* info2 = nullptr;
        infos[0]->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2));
        ASSERT_EQ(info2->GetFuncIndexOfMemId(m.id, INVOKE_FUNC, &index), S_OK) << m.name;
        info2->Release();
        FUNCDESC* func = nullptr;
        infos[0]->GetFuncDesc(index, &func);
        EXPECT_EQ(func->funckind, FUNC_DISPATCH);
        EXPECT_EQ(func->elemdescFunc.tdesc.vt, m.result) << m.name;
        EXPECT_EQ(func->cParams, m.params) << m.name;
        BSTR names[2] = {};
        UINT got = 0;
        infos[0]->GetNames(m.id, names, 2, &got);
        EXPECT_EQ(Utf8FromWide(names[0]), m.name);
        if (m.params == 1) {
            EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
            ASSERT_EQ(got, 2u);
            EXPECT_EQ(Utf8FromWide(names[1]), "lpszCountUrl");
        }
        for (UINT i = 0; i < got; ++i)
            SysFreeString(names[i]);
        infos[0]->ReleaseFuncDesc(func);
    }

    // _DKelplayerEvents
    infos[1]->GetTypeAttr(&attr);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    infos[1]->ReleaseTypeAttr(attr);
    const char* events[] = {"ChangeBufferState", "ChangeMetadata"};
    for (DISPID id = 1; id <= 2; ++id) {
        BSTR eventName = NULL;
        infos[1]->GetDocumentation(id, &eventName, NULL, NULL, NULL);
        EXPECT_EQ(Utf8FromWide(eventName), events[id - 1]);
        SysFreeString(eventName);
    }
    infos[0]->Release();
    infos[1]->Release();
    lib->Release();
}

TEST_F(Registration, TheModuleCarriesItsResources)
{
    HMODULE module = LoadLibraryExA(OcxPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    char text[256];
    LoadStringA(module, 1, text, sizeof(text));
    EXPECT_STREQ(text, "Kelplayer Control");
    LoadStringA(module, 2, text, sizeof(text));
    EXPECT_STREQ(text, "Kelplayer Property Page");
    LoadStringA(module, 200, text, sizeof(text));
    EXPECT_STREQ(text, "General");
    EXPECT_NE(FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_STRING), MAKEINTRESOURCEA(1),
                              MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)), nullptr);
    HRSRC bitmap = FindResourceA(module, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_BITMAP));
    ASSERT_NE(bitmap, nullptr);
    const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, bitmap)));
    EXPECT_EQ(header->biWidth, 16);
    EXPECT_EQ(header->biHeight, 15);
    EXPECT_EQ(header->biBitCount, 4);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(200), reinterpret_cast<LPCSTR>(RT_DIALOG)), nullptr);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
    FreeLibrary(module);

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(OcxPath().c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(OcxPath().c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000003u);
    char* value = nullptr;
    EXPECT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\OLESelfRegister", reinterpret_cast<void**>(&value), &length));
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\OriginalFilename", reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, "kelplayerx.OCX");
}

TEST_F(Registration, UnregisteringRemovesClassesAndTypeLibraryButNotCategories)
{
    std::string clsid = ClassIdText(KEL_PROGID);
    std::string page = ClassIdText(KEL_PAGE_PROGID);
    std::string lib = "TypeLib\\" + Value("CLSID\\" + clsid + "\\TypeLib");
    ASSERT_EQ(Regsvr32("/u /s"), 0u);
    EXPECT_FALSE(KeyExists("CLSID\\" + clsid));
    EXPECT_FALSE(KeyExists("CLSID\\" + page));
    EXPECT_FALSE(KeyExists("KELPLAYERX.KelPlayerCtrl.1"));
    EXPECT_FALSE(KeyExists("KELPLAYERX.KelPlayerPropPage.1"));
    EXPECT_FALSE(KeyExists(lib));
    EXPECT_TRUE(KeyExists("Component Categories\\" + std::string(CATID_SCRIPTING)));
    EXPECT_TRUE(KeyExists("Component Categories\\" + std::string(CATID_INITIALIZING)));
    EXPECT_EQ(Regsvr32("/u /s"), 0u) << "unregistering twice";
    // Registered again for the tests that follow.
    ASSERT_EQ(Regsvr32("/s"), 0u);
    EXPECT_TRUE(KeyExists("CLSID\\" + clsid));
}
