// The control on a web page: its fetches read only the page's own host, as the page itself may.
#include "KelplayerCtrl.h"

#include "HttpUrl.h"
#include "PageAddress.h"
#include "StatusText.h"

// Streams that Play opens are not checked: the page hears them but never reads their bytes.
bool CKelplayerCtrl::IsFetchAllowed(const std::string& url)
{
    std::string page;
    if (!GetPageAddress(&page))
        return true;
    // An address that does not parse is refused by the fetch itself, before it connects.
    CHttpUrl parsed;
    if (!ParseHttpUrl(url.c_str(), &parsed))
        return true;
    // The fetch connects to exactly this host name, so comparing it is comparing the target.
    if (IsPageHost(page.c_str(), parsed.host))
        return true;
    SendStatusText(GetPlayerWindow(), TEXT_NOT_FROM_THIS_PAGE, 1);
    return false;
}
