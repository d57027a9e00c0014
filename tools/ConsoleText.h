// Texts from a station made safe for one output line of the console tools.
#pragma once

#include <string>

// Control characters become visible escapes (\r, \n, \t, and \xNN for the other bytes below
// 0x20 and for 0x7F), so that a title cannot start a line of its own.
std::string EscapeControls(const std::string& text);
