// Telling a UTF-8 station text from one in the listener's ANSI code page.
#include "engine/report/StationText.h"

bool IsUtf8Text(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    bool wide = false;
    while (*p != 0) {
        unsigned char lead = *p++;
        if (lead < 0x80)
            continue;
        wide = true;
        int more;
        unsigned value;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            value = lead & 0x07;
        } else {
            return false; // a continuation byte first, or a lead that no valid text has
        }
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (*p & 0x3F);
        }
        const unsigned smallest[] = {0, 0x80, 0x800, 0x10000};
        if (value < smallest[more] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
            return false;
    }
    return wide;
}

UINT StationTextCodePage(const char* text)
{
    return IsUtf8Text(text) ? CP_UTF8 : CP_ACP;
}
