// Conversions between BSTRs and the ANSI text that the control holds inside.
#include "Bstr.h"

#include <objbase.h>

#include "engine/report/StationText.h"

namespace
{
const UINT STATUS_TEXT_CODE_PAGE = 949;

BSTR BstrFromCodePage(UINT codePage, const char* text)
{
    if (text == NULL || *text == '\0')
        return SysAllocStringLen(NULL, 0);
    int chars = MultiByteToWideChar(codePage, 0, text, -1, NULL, 0);
    if (chars <= 0)
        return SysAllocStringLen(NULL, 0);
    BSTR out = SysAllocStringLen(NULL, chars - 1);
    if (out != NULL)
        MultiByteToWideChar(codePage, 0, text, -1, out, chars);
    return out;
}
} // namespace

std::string AnsiFromBstr(BSTR text)
{
    int length = static_cast<int>(SysStringLen(text));
    if (length == 0)
        return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], bytes, NULL, NULL);
    return out;
}

std::string AddressFromBstr(BSTR text)
{
    static const char HEX[] = "0123456789ABCDEF";
    int length = static_cast<int>(SysStringLen(text));
    std::string out;
    for (int i = 0; i < length; ++i) {
        if (text[i] < 0x80) {
            out += static_cast<char>(text[i]);
            continue;
        }
        // A surrogate pair is one character; a lone surrogate becomes U+FFFD as UTF-8 makes it.
        int units = IS_HIGH_SURROGATE(text[i]) && i + 1 < length && IS_LOW_SURROGATE(text[i + 1]) ? 2 : 1;
        char utf8[8];
        int bytes = WideCharToMultiByte(CP_UTF8, 0, text + i, units, utf8, sizeof(utf8), NULL, NULL);
        for (int b = 0; b < bytes; ++b) {
            unsigned char c = static_cast<unsigned char>(utf8[b]);
            out += '%';
            out += HEX[c >> 4];
            out += HEX[c & 0xF];
        }
        i += units - 1;
    }
    return out;
}

BSTR BstrFromAnsi(const char* text)
{
    return BstrFromCodePage(CP_ACP, text);
}

BSTR BstrFromStatusText(const char* text)
{
    return BstrFromCodePage(STATUS_TEXT_CODE_PAGE, text);
}

BSTR BstrFromStationText(const char* text)
{
    return BstrFromCodePage(text != NULL ? StationTextCodePage(text) : CP_ACP, text);
}

LPOLESTR TaskStringFromAnsi(const char* text)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    if (chars <= 0)
        return NULL;
    LPOLESTR out = static_cast<LPOLESTR>(CoTaskMemAlloc(chars * sizeof(OLECHAR)));
    if (out != NULL)
        MultiByteToWideChar(CP_ACP, 0, text, -1, out, chars);
    return out;
}
