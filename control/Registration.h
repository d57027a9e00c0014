// Registry entries of COM classes, type libraries and component categories for an in-process server.
#pragma once

#include <windows.h>
#include <oleauto.h>

struct CControlClassInfo
{
    const CLSID* clsid;
    const char* progId;
    const char* typeName;
    UINT toolboxBitmapId;
    DWORD miscStatus;
    const GUID* libId;
    WORD libMajor;
    WORD libMinor;
};

// A control class: type name, apartment-threaded InprocServer32, ProgID, Control, MiscStatus,
// ToolboxBitmap32, TypeLib and Version; the ProgID key points back at the class.
HRESULT RegisterControlClass(const CControlClassInfo& info);
// A plain apartment-threaded class such as a property page; progId may be null.
HRESULT RegisterPlainClass(const CLSID& clsid, const char* progId, const char* typeName);
// Removes the class key and, when given, the ProgID key.
HRESULT UnregisterClass(const CLSID& clsid, const char* progId);

// The type library embedded in this module as TYPELIB 1.
HRESULT LoadModuleTypeLib(ITypeLib** typeLib);
HRESULT RegisterModuleTypeLib();
HRESULT UnregisterModuleTypeLib();

// Component categories through the standard categories manager.
HRESULT CreateComponentCategory(const GUID& catid, const wchar_t* description);
HRESULT RegisterClassImplCategory(const CLSID& clsid, const GUID& catid);
