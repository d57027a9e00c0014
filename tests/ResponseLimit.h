// Limits on how soon the code under test answers, with room for the emulated 32-bit suite.
#pragma once

#include <windows.h>

// A limit on how soon something answers, in ms. The 32-bit suite runs under qemu-i386 at the
// lowest priority beside the 64-bit one: there a container's probe waited up to 354 ms where
// 14 to 27 ms is usual (native or emulated on a quiet machine), and a worker's next station took
// 668 ms past a 2 s wait where 100 ms is usual, so such limits get ten times the room.
DWORD ResponseLimitMs(DWORD ms);
