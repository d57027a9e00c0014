// Limits on how soon the code under test answers, with room for the emulated 32-bit suite.
#include "ResponseLimit.h"

DWORD ResponseLimitMs(DWORD ms)
{
    // Set by the emulated suite's runner; reaches Windows programs through Wine.
    return GetEnvironmentVariableA("KELPLAYERX_EMULATED", NULL, 0) != 0 ? 10 * ms : ms;
}
