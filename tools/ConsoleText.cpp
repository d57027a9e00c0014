// Escaping of control characters in the console tools' output lines.
#include "ConsoleText.h"

#include <cstdio>

std::string EscapeControls(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}
