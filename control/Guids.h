// The five fixed identifiers of kelplayerx, shared by the type library, the factories and registration.
#pragma once

#define KELPLAYERX_LIBID_TEXT "6777bb2f-9c23-4516-8787-98bfd67ab1bc"
#define KELPLAYERX_DIID_DISPATCH_TEXT "f0a8bef2-d229-44d2-9463-f84d27112f5f"
#define KELPLAYERX_DIID_EVENTS_TEXT "90b404ef-7f77-4bd9-8275-e31530004945"
#define KELPLAYERX_CLSID_CONTROL_TEXT "a9606593-1333-4aa0-a417-d5699d38e28b"
#define KELPLAYERX_CLSID_PROPPAGE_TEXT "78594e0e-a168-4836-8369-2672c1bea590"

#ifndef __WIDL__
#include <windows.h>

namespace guid_text
{
constexpr unsigned HexDigit(char c)
{
    return c >= '0' && c <= '9' ? unsigned(c - '0') : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10) : unsigned(c - 'A' + 10);
}
constexpr unsigned long Hex(const char* s, int digits)
{
    unsigned long value = 0;
    for (int i = 0; i < digits; ++i)
        value = value * 16 + HexDigit(s[i]);
    return value;
}
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" to a GUID, at compile time.
constexpr GUID Parse(const char* s)
{
    return GUID{Hex(s, 8), static_cast<unsigned short>(Hex(s + 9, 4)), static_cast<unsigned short>(Hex(s + 14, 4)),
                {static_cast<unsigned char>(Hex(s + 19, 2)), static_cast<unsigned char>(Hex(s + 21, 2)),
                 static_cast<unsigned char>(Hex(s + 24, 2)), static_cast<unsigned char>(Hex(s + 26, 2)),
                 static_cast<unsigned char>(Hex(s + 28, 2)), static_cast<unsigned char>(Hex(s + 30, 2)),
                 static_cast<unsigned char>(Hex(s + 32, 2)), static_cast<unsigned char>(Hex(s + 34, 2))}};
}
} // namespace guid_text

inline constexpr GUID LIBID_KELPLAYERXLib = guid_text::Parse(KELPLAYERX_LIBID_TEXT);
inline constexpr GUID DIID__DKelplayer = guid_text::Parse(KELPLAYERX_DIID_DISPATCH_TEXT);
inline constexpr GUID DIID__DKelplayerEvents = guid_text::Parse(KELPLAYERX_DIID_EVENTS_TEXT);
inline constexpr GUID CLSID_Kelplayer = guid_text::Parse(KELPLAYERX_CLSID_CONTROL_TEXT);
inline constexpr GUID CLSID_KelplayerPropPage = guid_text::Parse(KELPLAYERX_CLSID_PROPPAGE_TEXT);
#endif
