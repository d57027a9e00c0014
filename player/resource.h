// Resource identifiers of pelradio.exe.
#pragma once

#define IDI_PELRADIO 1
// The notification-area icon's animation frames TRAY(0) to TRAY(2).
#define IDI_TRAY0 10
#define IDI_TRAY1 11
#define IDI_TRAY2 12
#define IDC_POINTING_HAND 20

#define IDB_SKIN 100
#define IDB_DISCONNECTED 101
#define IDB_CONNECTING 102
#define IDB_CONNECTED 103
#define IDB_BANNER0 110
#define IDB_BANNER1 111
#define IDB_BANNER2 112
#define IDB_BANNER3 113
#define IDB_LAMP 120
#define IDB_RAMP 121
#define IDB_KNOB 122
#define IDB_BLANK 123
#define IDB_CLOSE_PRESSED 124
#define IDB_MIN_PRESSED 125
