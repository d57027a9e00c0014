// One-shot HTTP/1.0 GET of a small document, returning its body as text.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class CSocketClient;

// Fetches url with client (whose connection stays open until its next Connect) and returns the
// body of its 200 answer up to the body's first zero byte; "" when nothing could be fetched.
// Redirects (301, 302, 303, 307, 308 with a Location) are followed, each target first shown to
// mayFollow when one is given: false refuses it, and mayFollow has said why. *source (when given)
// gets the address that answered, against which the body's relative addresses resolve.
// Failures go to window as status texts.
std::string FetchHttpBody(CSocketClient* client, HWND window, const char* url,
                          const std::function<bool(const std::string&)>& mayFollow = nullptr,
                          std::string* source = NULL);
