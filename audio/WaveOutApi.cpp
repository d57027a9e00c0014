// The system's wave-out device: each method is the winmm call of the same name.
#include "audio/WaveOutApi.h"

MMRESULT CWaveOutApi::Open(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                           DWORD_PTR instance, DWORD flags)
{
    return waveOutOpen(device, deviceId, format, callback, instance, flags);
}

MMRESULT CWaveOutApi::Prepare(HWAVEOUT device, WAVEHDR* header)
{
    return waveOutPrepareHeader(device, header, sizeof(WAVEHDR));
}

MMRESULT CWaveOutApi::Write(HWAVEOUT device, WAVEHDR* header)
{
    return waveOutWrite(device, header, sizeof(WAVEHDR));
}

MMRESULT CWaveOutApi::Reset(HWAVEOUT device)
{
    return waveOutReset(device);
}

MMRESULT CWaveOutApi::Unprepare(HWAVEOUT device, WAVEHDR* header)
{
    return waveOutUnprepareHeader(device, header, sizeof(WAVEHDR));
}

MMRESULT CWaveOutApi::Close(HWAVEOUT device)
{
    return waveOutClose(device);
}

MMRESULT CWaveOutApi::SetVolume(HWAVEOUT device, DWORD volume)
{
    return waveOutSetVolume(device, volume);
}

CWaveOutApi* CWaveOutApi::System()
{
    static CWaveOutApi system;
    return &system;
}
