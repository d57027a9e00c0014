// Finds the address of the page that hosts a control, through its client site, and compares hosts.
#include "PageAddress.h"

#include <cstring>

#include "Bstr.h"
#include "ComPtr.h"

// The browser's interfaces are large; one property of each is all a control needs, read late
// bound by its fixed dispatch identifier (a page's expando names cannot stand in for it).
EXTERN_C const IID IID_IHTMLDocument2;
EXTERN_C const IID IID_IWebBrowserApp;
EXTERN_C const IID IID_IWebBrowser2;

namespace
{
const DISPID DISPID_DOCUMENT_URL = 1025;     // IHTMLDocument2::URL
const DISPID DISPID_BROWSER_LOCATION = 211;  // IWebBrowser2::LocationURL

// The property's text; "" when it cannot be read.
std::string ReadAddress(IDispatch* object, DISPID id)
{
    DISPPARAMS none = {NULL, NULL, 0, 0};
    VARIANT value;
    VariantInit(&value);
    std::string address;
    if (SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, NULL, NULL)) &&
        V_VT(&value) == VT_BSTR)
        address = AnsiFromBstr(V_BSTR(&value));
    VariantClear(&value);
    return address;
}

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}
} // namespace

bool FindPageAddress(IOleClientSite* site, std::string* address)
{
    address->clear();
    if (site == NULL)
        return false;
    // The document that holds the control first: in a frame, that is the page whose host counts.
    CComPtr<IOleContainer> container;
    if (SUCCEEDED(site->GetContainer(container.Out())) && container) {
        CComPtr<IDispatch> document;
        if (SUCCEEDED(container->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(document.Out()))) &&
            document) {
            *address = ReadAddress(document.Get(), DISPID_DOCUMENT_URL);
            return true;
        }
    }
    CComPtr<IServiceProvider> services;
    if (SUCCEEDED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.Out()))) && services) {
        CComPtr<IDispatch> browser;
        if (SUCCEEDED(services->QueryService(IID_IWebBrowserApp, IID_IWebBrowser2,
                                             reinterpret_cast<void**>(browser.Out()))) &&
            browser) {
            *address = ReadAddress(browser.Get(), DISPID_BROWSER_LOCATION);
            return true;
        }
    }
    return false;
}

std::string PageHostOf(const char* pageAddress)
{
    if (pageAddress == NULL)
        return std::string();
    std::string text = Lower(pageAddress);
    size_t start;
    // Only web pages have a host to share; a local file or about:blank reads no site at all.
    if (text.compare(0, 7, "http://") == 0)
        start = 7;
    else if (text.compare(0, 8, "https://") == 0)
        start = 8;
    else
        return std::string();
    // Browsers end the authority at a backslash too.
    size_t end = text.find_first_of("/?#\\", start);
    std::string authority = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    // An IPv6 literal keeps its brackets (never a host that a fetch can match).
    size_t colon = authority.find(':', authority.compare(0, 1, "[") == 0 ? authority.find(']') : 0);
    if (colon != std::string::npos)
        authority.erase(colon);
    return authority;
}

bool IsPageHost(const char* pageAddress, const char* host)
{
    if (host == NULL)
        return false;
    std::string page = PageHostOf(pageAddress);
    std::string wanted = Lower(host);
    if (page.empty() || page != wanted)
        return false;
    for (char c : page)
        if (!IsHostChar(c))
            return false;
    return true;
}
