// The receiving side of the engine's reports: what a window procedure owes each one it takes,
// and how it reads a playlist report.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// For WM_PLAYER_BUFFERSTATE and WM_PLAYER_METADATA, as soon as the report has been taken out of
// the queue: a report that came through a stream's gate (lParam) lets the gate post its next one.
// Reports without a gate (lParam 0) need nothing.
void AcknowledgePlayerReport(UINT message, LPARAM lParam);

// For WM_PLAYER_MESSAGE, after the text has been handled: frees it when it was posted as an
// owned copy.
void FinishStatusText(WPARAM wParam, LPARAM lParam);

// Before the window is destroyed: takes every report still queued for it and frees what they
// own (titles, playlists, posted status texts, references to gates).
void DiscardPlayerReports(HWND window);

// WM_PLAYER_PLAYLIST's text: the address that answered, then the list's entries, one a line.
// The reader makes it (a heap text, new char[]); the receiver reads it back and frees it.
char* NewPlaylistReport(const std::string& origin, const std::vector<std::string>& entries);
// False for a text without any entry.
bool ReadPlaylistReport(const char* text, std::string* origin, std::vector<std::string>* entries);
