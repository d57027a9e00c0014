// The control's property page: dialog 200 with caption string 200, exchanging no property.
#pragma once

#include <windows.h>

class CKelplayerPropPage
{
public:
    static HRESULT CreateInstance(REFIID iid, void** object);
    static HRESULT UpdateRegistry(bool registering);
};
