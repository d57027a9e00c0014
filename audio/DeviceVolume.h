// The volume given to each wave-out device the player opens, for systems whose mixer line keeps no volume.
#pragma once

#include <windows.h>

#include <mmsystem.h>

class CDeviceVolume
{
public:
    CDeviceVolume();

    CDeviceVolume(const CDeviceVolume&) = delete;
    CDeviceVolume& operator=(const CDeviceVolume&) = delete;

    // Control's thread. 0 to 100, clamped: a device takes one 16-bit word per channel, where an
    // out-of-scale value would wrap around to a loud one.
    void Set(int value);
    // Control's thread. The value last set; 100 (a device's own full volume) until then.
    int Get() const;

    // Worker's thread, for the device it owns: false while no volume was set, so that a device
    // keeps its own volume then.
    bool Query(DWORD* raw) const;

    // Both channels alike, 655 units a step.
    static DWORD Scale(int value);

private:
    // Written by the control's thread, read by the worker's; NOT_SET until the first Set.
    volatile LONG m_lRaw;
};
