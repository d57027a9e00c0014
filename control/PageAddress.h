// Which web page, if any, hosts a control, and whether an address is on that page's own host.
#pragma once

#include <ole2.h>

#include <string>

// True when the site belongs to a web page: its container is an HTML document, or it offers a
// browser. *address is the document's address, or "" when the page would not tell it.
bool FindPageAddress(IOleClientSite* site, std::string* address);

// The host name of an http or https page address, lower case; "" for any other address.
std::string PageHostOf(const char* pageAddress);

// True when host names the page's own host (any port). Hosts that are empty or hold anything
// but letters, digits, '.', '-' and '_' never match.
bool IsPageHost(const char* pageAddress, const char* host);
