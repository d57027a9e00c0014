// One-shot HTTP/1.0 GET of a document: a small text, or bytes within limits of the caller's.
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

// How FetchHttpBytes ended.
enum
{
    FETCH_OK,
    FETCH_FAILED,    // nothing usable came (told to the window, when there is one)
    FETCH_FORBIDDEN, // the public-only rule refused an address
    FETCH_WOKEN      // the wake event was set
};

struct CFetchLimits
{
    size_t maxBytes;  // the whole answer, header and body
    DWORD connectMs;  // each connection's wait, and its TLS handshake's
    DWORD answerMs;   // each answer's reading, however it trickles in
    HANDLE wake;      // ends every wait at once when set (may be null)
    bool whole;       // a body cut short by a limit fails, rather than giving what came
};

// As FetchHttpBody, within limits, with the body's bytes as they came (zero bytes too) in *body.
int FetchHttpBytes(CSocketClient* client, HWND window, const char* url, const CFetchLimits& limits,
                   const std::function<bool(const std::string&)>& mayFollow, std::string* source, std::string* body);
