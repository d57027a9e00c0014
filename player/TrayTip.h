// The tray icon's tip: the station and the song now playing, in the shell's code page 949, cut to fit.
#pragma once

#include <string>

// The tip's field holds 64 bytes with its NUL.
#define TRAY_TIP_BYTES 63

// "station - title" (the station alone while there is no title) as code page 949 bytes, at most
// `limit` of them, never ending inside a character; line breaks and other controls become spaces.
std::string MakeTrayTip(const char* station, const std::wstring& title, size_t limit);
