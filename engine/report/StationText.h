// Which code page a station's name or title is written in: UTF-8 where the bytes say so, else ANSI.
#pragma once

#include <windows.h>

// True when the text is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF) and holds at least one byte above 0x7F.
bool IsUtf8Text(const char* text);

// CP_UTF8 for such a text; CP_ACP for everything else, which stations of old send in the
// listener's own code page.
UINT StationTextCodePage(const char* text);
