// The wave-out calls the output makes, behind virtual methods so that tests can stand in.
#pragma once

#include <windows.h>

#include <mmsystem.h>

class CWaveOutApi
{
public:
    virtual ~CWaveOutApi() {}

    virtual MMRESULT Open(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                          DWORD_PTR instance, DWORD flags);
    virtual MMRESULT Prepare(HWAVEOUT device, WAVEHDR* header);
    virtual MMRESULT Write(HWAVEOUT device, WAVEHDR* header);
    virtual MMRESULT Reset(HWAVEOUT device);
    virtual MMRESULT Unprepare(HWAVEOUT device, WAVEHDR* header);
    virtual MMRESULT Close(HWAVEOUT device);
    virtual MMRESULT SetVolume(HWAVEOUT device, DWORD volume);

    // The system's own calls, shared by every output that is given no other.
    static CWaveOutApi* System();
};
