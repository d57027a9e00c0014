// The output volume on a 0 to 100 scale, read and set through one line's volume control of mixer 0.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "audio/MixerApi.h"

class CDeviceVolume;
class CReportTarget;

#define TEXT_MIXER_OPEN_FAILED "Couldn't open the mixer. Please check your soundcard setting."
#define TEXT_MIXER_LINE_FAILED "Couldn't get the line information. Please check your soundcard setting."
#define TEXT_MIXER_CONTROLS_FAILED "Couldn't get the line controls. Please check your soundcard setting."
#define TEXT_MIXER_GET_FAILED "Couldn't get control details. Please check your soundcard setting."
#define TEXT_MIXER_SET_FAILED "Couldn't set control details. Please check your soundcard setting."

class CMixerVolume
{
public:
    // componentType: the line to control, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT for the player.
    // api: NULL for the system's mixer; otherwise it must outlive this object.
    // device: where the volume goes instead when the line cannot be found or does not keep a
    // value (checked once, here); NULL keeps the mixer line whatever it does. It must outlive
    // this object.
    CMixerVolume(const CReportTarget* owner, DWORD componentType, CMixerApi* api = NULL, CDeviceVolume* device = NULL);
    virtual ~CMixerVolume();

    CMixerVolume(const CMixerVolume&) = delete;
    CMixerVolume& operator=(const CMixerVolume&) = delete;

    // 0 to 100; 0 while unavailable or when the read fails.
    int GetVolume();
    // Written as value * 655, without a range check; nothing while unavailable.
    void SetVolume(short value);
    // True when the volume goes to the devices rather than to the mixer line.
    bool UsesDeviceVolume() const { return m_bDeviceVolume; }

private:
    void Report(const char* text) const;
    void PrepareDetails(MIXERCONTROLDETAILS* details, MIXERCONTROLDETAILS_UNSIGNED* value) const;
    bool ReadValue(DWORD* value, DWORD unfilled);
    bool WriteValue(DWORD value);
    bool LineKeepsValues();

    const CReportTarget* m_pOwner;
    BOOL m_bAvailable;
    DWORD m_dwControlID;
    MIXERLINECONTROLSA m_lineControls;
    MIXERCONTROLA m_control;
    MIXERLINEA m_line;
    HMIXER m_hMixer;
    CMixerApi m_systemApi;
    CMixerApi* m_pApi;
    CDeviceVolume* m_pDevice;
    bool m_bDeviceVolume;
};
