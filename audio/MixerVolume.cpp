// Mixer volume: finds the line's volume control once, then scales 0..100 by 655 units a step.
#include "audio/MixerVolume.h"

#include "audio/DeviceVolume.h"
#include "engine/report/ReportTarget.h"
#include "engine/report/StatusText.h"

namespace
{
const DWORD VOLUME_STEP = 655;
const int REPORT_LEVEL = 0;
// A control's value never has all bits set: a read that leaves this in place filled nothing in.
const DWORD UNFILLED = 0xFFFFFFFF;
} // namespace

CMixerVolume::CMixerVolume(const CReportTarget* owner, DWORD componentType, CMixerApi* api, CDeviceVolume* device)
    : m_pOwner(owner), m_bAvailable(FALSE), m_dwControlID(0), m_hMixer(NULL), m_pApi(api != NULL ? api : &m_systemApi),
      m_pDevice(device), m_bDeviceVolume(device != NULL) // until the line has shown that it keeps values
{
    ZeroMemory(&m_lineControls, sizeof(m_lineControls));
    ZeroMemory(&m_control, sizeof(m_control));
    ZeroMemory(&m_line, sizeof(m_line));

    // Change notifications would go to the owner's window; the owner has none while it is built.
    HWND window = m_pOwner != NULL ? m_pOwner->GetPlayerWindow() : NULL;
    HMIXER mixer = NULL;
    if (m_pApi->Open(&mixer, 0, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        Report(TEXT_MIXER_OPEN_FAILED);
        return;
    }
    m_hMixer = mixer;
    HMIXEROBJ object = reinterpret_cast<HMIXEROBJ>(m_hMixer);

    // The object is a handle, so say so: read as a device number it names another mixer.
    m_line.cbStruct = sizeof(m_line);
    m_line.dwComponentType = componentType;
    if (m_pApi->GetLineInfo(object, &m_line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
        MMSYSERR_NOERROR) {
        Report(TEXT_MIXER_LINE_FAILED);
        return;
    }

    m_lineControls.cbStruct = sizeof(m_lineControls);
    m_lineControls.dwLineID = m_line.dwLineID;
    m_lineControls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    m_lineControls.cControls = 1;
    m_lineControls.cbmxctrl = sizeof(m_control);
    m_lineControls.pamxctrl = &m_control;
    if (m_pApi->GetLineControls(object, &m_lineControls, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
        MMSYSERR_NOERROR) {
        Report(TEXT_MIXER_CONTROLS_FAILED);
        return;
    }

    m_bAvailable = TRUE;
    m_dwControlID = m_control.dwControlID;
    // Some mixers (Wine's) find the line and answer every call with success, yet hold nothing.
    m_bDeviceVolume = m_pDevice != NULL && !LineKeepsValues();
}

CMixerVolume::~CMixerVolume()
{
    if (m_hMixer != NULL)
        m_pApi->Close(m_hMixer);
}

void CMixerVolume::PrepareDetails(MIXERCONTROLDETAILS* details, MIXERCONTROLDETAILS_UNSIGNED* value) const
{
    ZeroMemory(details, sizeof(*details));
    details->cbStruct = sizeof(*details);
    details->dwControlID = m_dwControlID;
    details->cChannels = 1; // one value for all channels alike
    details->cMultipleItems = 0;
    details->cbDetails = sizeof(*value);
    details->paDetails = value;
}

// value holds `unfilled` on entry and keeps it when the mixer fills nothing in.
bool CMixerVolume::ReadValue(DWORD* value, DWORD unfilled)
{
    MIXERCONTROLDETAILS_UNSIGNED detail;
    detail.dwValue = unfilled;
    MIXERCONTROLDETAILS details;
    PrepareDetails(&details, &detail);
    MMRESULT result = m_pApi->GetControlDetails(reinterpret_cast<HMIXEROBJ>(m_hMixer), &details,
                                                MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
    *value = detail.dwValue;
    return result == MMSYSERR_NOERROR;
}

bool CMixerVolume::WriteValue(DWORD value)
{
    MIXERCONTROLDETAILS_UNSIGNED detail;
    detail.dwValue = value;
    MIXERCONTROLDETAILS details;
    PrepareDetails(&details, &detail);
    return m_pApi->SetControlDetails(reinterpret_cast<HMIXEROBJ>(m_hMixer), &details,
                                     MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

// Reads the value, writes it moved by one unit (far below hearing), reads that back, and puts
// the first value back. No texts: this only chooses where the volume goes.
bool CMixerVolume::LineKeepsValues()
{
    DWORD current = 0;
    if (!ReadValue(&current, UNFILLED) || current == UNFILLED)
        return false;
    DWORD probe = current ^ 1;
    if (!WriteValue(probe))
        return false;
    DWORD back = 0;
    bool kept = ReadValue(&back, current) && back == probe;
    WriteValue(current);
    return kept;
}

int CMixerVolume::GetVolume()
{
    if (m_bDeviceVolume)
        return m_pDevice->Get();
    if (!m_bAvailable)
        return 0;
    // A mixer may report success without filling the value in: it then reads as 0, not as
    // whatever the stack held.
    DWORD value = 0;
    if (!ReadValue(&value, 0)) {
        Report(TEXT_MIXER_GET_FAILED);
        return 0;
    }
    return static_cast<int>(value / VOLUME_STEP);
}

void CMixerVolume::SetVolume(short value)
{
    if (m_bDeviceVolume) {
        m_pDevice->Set(value);
        return;
    }
    if (!m_bAvailable)
        return;
    if (!WriteValue(static_cast<DWORD>(static_cast<int>(value) * static_cast<int>(VOLUME_STEP))))
        Report(TEXT_MIXER_SET_FAILED);
}

// To the window the owner has now: the control's window can come and go while this object lives.
void CMixerVolume::Report(const char* text) const
{
    ReportStatusText(m_pOwner != NULL ? m_pOwner->GetPlayerWindow() : NULL, text, REPORT_LEVEL);
}
