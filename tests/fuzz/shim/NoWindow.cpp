// Status texts for the native Linux builds, which have no windows: they go nowhere.
#include "engine/report/StatusText.h"

void ReportStatusText(HWND, const char*, int) {}
