// One-shot HTTP/1.0 GET of a small document, returning its body as text.
#pragma once

#include <windows.h>

#include <string>

class CSocketClient;

// Fetches url with client (whose connection stays open until its next Connect) and returns the
// body after the header block, up to its first zero byte; "" when nothing could be fetched.
// Failures go to window as status texts.
std::string FetchHttpBody(CSocketClient* client, HWND window, const char* url);
