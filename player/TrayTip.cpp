// The tray icon's tip text.
#include "TrayTip.h"

#include <windows.h>

namespace
{
const UINT TIP_CODE_PAGE = 949;
}

std::string MakeTrayTip(const char* station, const std::wstring& title, size_t limit)
{
    std::string tip = station;
    if (!title.empty()) {
        std::wstring plain = title;
        for (wchar_t& ch : plain)
            if (ch < 0x20 || ch == 0x7F)
                ch = L' ';
        // The shell reads the tip in its own code page; Korean pages are written in it.
        int size = WideCharToMultiByte(TIP_CODE_PAGE, 0, plain.c_str(), static_cast<int>(plain.size()), NULL, 0,
                                       NULL, NULL);
        std::string bytes(size > 0 ? size : 0, '\0');
        if (size > 0)
            WideCharToMultiByte(TIP_CODE_PAGE, 0, plain.c_str(), static_cast<int>(plain.size()), &bytes[0], size,
                                NULL, NULL);
        tip += " - " + bytes;
    }
    // Whole characters only: a lead byte without its trail would swallow the NUL after it.
    size_t end = 0;
    while (end < tip.size()) {
        size_t width = IsDBCSLeadByteEx(TIP_CODE_PAGE, static_cast<BYTE>(tip[end])) ? 2 : 1;
        if (end + width > limit || end + width > tip.size())
            break;
        end += width;
    }
    tip.resize(end);
    return tip;
}
