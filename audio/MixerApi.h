// The system mixer calls the volume object makes, behind virtual methods so that tests can stand in.
#pragma once

#include <windows.h>

#include <mmsystem.h>

class CMixerApi
{
public:
    virtual ~CMixerApi() {}

    virtual MMRESULT Open(HMIXER* mixer, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
    virtual MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags);
    virtual MMRESULT GetLineControls(HMIXEROBJ mixer, MIXERLINECONTROLSA* controls, DWORD flags);
    virtual MMRESULT GetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags);
    virtual MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags);
    virtual MMRESULT Close(HMIXER mixer);
};
