// The receiving side of the engine's reports: what a window procedure owes each one it takes.
#pragma once

#include <windows.h>

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
