// Device volume: one 32-bit word shared between the control's thread and the worker's.
#include "audio/DeviceVolume.h"

namespace
{
const LONG NOT_SET = -1; // no scaled value has all 32 bits set: 100 is 0xFFDCFFDC
const DWORD VOLUME_STEP = 655;
const DWORD FULL = 0xFFFF;
} // namespace

CDeviceVolume::CDeviceVolume() : m_lRaw(NOT_SET) {}

DWORD CDeviceVolume::Scale(int value)
{
    if (value < 0)
        value = 0;
    if (value > 100)
        value = 100;
    DWORD channel = static_cast<DWORD>(value) * VOLUME_STEP;
    return channel | (channel << 16);
}

void CDeviceVolume::Set(int value)
{
    InterlockedExchange(&m_lRaw, static_cast<LONG>(Scale(value)));
}

int CDeviceVolume::Get() const
{
    LONG raw = m_lRaw;
    DWORD left = raw == NOT_SET ? FULL : (static_cast<DWORD>(raw) & 0xFFFF);
    return static_cast<int>(left / VOLUME_STEP);
}

bool CDeviceVolume::Query(DWORD* raw) const
{
    LONG value = m_lRaw; // one aligned 32-bit read: never half of a write
    if (value == NOT_SET)
        return false;
    *raw = static_cast<DWORD>(value);
    return true;
}
