// The control's property page: dialog 200 with caption string 200, exchanging no property.
#include "KelplayerPropPage.h"

#include <string>

#include "Guids.h"
#include "Module.h"
#include "PropertyPage.h"
#include "Registration.h"

namespace
{
const UINT IDD_PROPPAGE_KELPLAYER = 200;
const UINT IDS_KELPLAYER_PPG_CAPTION = 200;
const UINT IDS_KELPLAYER_PPG = 2;
const char PROGID_PROPPAGE[] = "KELPLAYERX.KelPlayerPropPage.1";
} // namespace

HRESULT CKelplayerPropPage::CreateInstance(REFIID iid, void** object)
{
    CPropertyPage* page = new CPropertyPage(IDD_PROPPAGE_KELPLAYER, IDS_KELPLAYER_PPG_CAPTION);
    HRESULT hr = page->QueryInterface(iid, object);
    page->Release();
    return hr;
}

HRESULT CKelplayerPropPage::UpdateRegistry(bool registering)
{
    if (!registering)
        return UnregisterClass(CLSID_KelplayerPropPage, PROGID_PROPPAGE);
    return RegisterPlainClass(CLSID_KelplayerPropPage, PROGID_PROPPAGE, CModule::LoadText(IDS_KELPLAYER_PPG).c_str());
}
