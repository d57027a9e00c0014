// The control on a web page: its fetches read only the page's own host, as the page itself may.
#include "KelplayerCtrl.h"

#include "engine/net/AddressRule.h"
#include "engine/net/HttpFetch.h"
#include "engine/net/HttpUrl.h"
#include "PageAddress.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

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
    ReportStatusText(GetPlayerWindow(), TEXT_NOT_FROM_THIS_PAGE, 1);
    return false;
}

// In the spirit of browsers' protection of private networks: a page from the Internet may not
// reach the listener's own machine or network through the control, whatever names it uses.
bool CKelplayerCtrl::IsOnPublicPage()
{
    std::string page;
    if (!GetPageAddress(&page))
        return false;
    return !IsPrivateHost(PageHostOf(page.c_str()).c_str());
}

bool CKelplayerCtrl::Fetch(const std::string& url, std::string* body, std::string* source)
{
    body->clear();
    if (!IsFetchAllowed(url))
        return false;
    m_pSocket->SetPublicOnly(IsOnPublicPage());
    // A redirect asks for another address: the page's rule holds for each one as for the first.
    bool refused = false;
    *body = FetchHttpBody(m_pSocket, GetPlayerWindow(), url.c_str(),
                          [this, &refused](const std::string& target) {
                              refused = !IsFetchAllowed(target);
                              return !refused;
                          },
                          source);
    return !refused;
}
