// The text of a playlist report, made by the stream's reader and read back by the report's receiver.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// WM_PLAYER_PLAYLIST's text: the address that answered, then the list's entries, one a line.
// The reader makes it (a heap text, new char[]); the receiver reads it back, and TakePlayerReport
// frees it.
char* NewPlaylistReport(const std::string& origin, const std::vector<std::string>& entries);
// False for a text without any entry.
bool ReadPlaylistReport(const char* text, std::string* origin, std::vector<std::string>* entries);
