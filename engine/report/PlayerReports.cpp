// Status texts that never block their sender, and the text of a playlist report.
#include "engine/report/PlayerReports.h"

#include <cstring>

#include "engine/report/PlayerMessages.h"
#include "engine/report/StatusText.h"

void ReportStatusText(HWND window, const char* text, int level)
{
    if (window == NULL || text == NULL)
        return;
    if (GetWindowThreadProcessId(window, NULL) == GetCurrentThreadId()) {
        SendMessageA(window, WM_PLAYER_MESSAGE, reinterpret_cast<WPARAM>(text), level);
        return;
    }
    size_t len = strlen(text);
    char* copy = new char[len + 1];
    memcpy(copy, text, len + 1);
    if (!PostPlayerMessage(window, WM_PLAYER_MESSAGE, reinterpret_cast<WPARAM>(copy), (level & 0xFFFF) | PLAYER_TEXT_OWNED))
        delete[] copy;
}

char* NewPlaylistReport(const std::string& origin, const std::vector<std::string>& entries)
{
    std::string text = origin;
    for (const std::string& entry : entries)
        text += "\n" + entry;
    char* copy = new char[text.size() + 1];
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

bool ReadPlaylistReport(const char* text, std::string* origin, std::vector<std::string>* entries)
{
    entries->clear();
    const char* line = text != NULL ? strchr(text, '\n') : NULL;
    if (line == NULL)
        return false;
    origin->assign(text, line);
    while (line != NULL) {
        const char* next = strchr(line + 1, '\n');
        entries->push_back(next != NULL ? std::string(line + 1, next) : std::string(line + 1));
        line = next;
    }
    return true;
}
