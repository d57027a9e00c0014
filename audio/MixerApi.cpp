// The system's mixer: each method is the winmm call of the same name.
#include "audio/MixerApi.h"

MMRESULT CMixerApi::Open(HMIXER* mixer, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    return mixerOpen(mixer, deviceId, callback, instance, flags);
}

MMRESULT CMixerApi::GetLineInfo(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags)
{
    return mixerGetLineInfoA(mixer, line, flags);
}

MMRESULT CMixerApi::GetLineControls(HMIXEROBJ mixer, MIXERLINECONTROLSA* controls, DWORD flags)
{
    return mixerGetLineControlsA(mixer, controls, flags);
}

MMRESULT CMixerApi::GetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags)
{
    return mixerGetControlDetailsA(mixer, details, flags);
}

MMRESULT CMixerApi::SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags)
{
    return mixerSetControlDetails(mixer, details, flags);
}

MMRESULT CMixerApi::Close(HMIXER mixer)
{
    return mixerClose(mixer);
}
