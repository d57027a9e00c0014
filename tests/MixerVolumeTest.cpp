// Mixer volume: the 655 scale, the calls made, each failure's text, the choice of the device volume, and Wine's real mixer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/DeviceVolume.h"
#include "ExpectedTexts.h"
#include "audio/MixerVolume.h"
#include "engine/worker/PlayerHost.h"
#include "engine/report/PlayerMessages.h"
#include "TestWindow.h"

namespace
{
const HMIXER FAKE_HANDLE = reinterpret_cast<HMIXER>(static_cast<UINT_PTR>(0x4242));
const DWORD FAKE_LINE_ID = 0x77;
const DWORD FAKE_CONTROL_ID = 0x55;

// A mixer that records every call and fails the steps it is told to.
class CFakeMixerApi : public CMixerApi
{
public:
    MMRESULT openResult = MMSYSERR_NOERROR;
    MMRESULT lineResult = MMSYSERR_NOERROR;
    MMRESULT controlsResult = MMSYSERR_NOERROR;
    MMRESULT getResult = MMSYSERR_NOERROR;
    MMRESULT setResult = MMSYSERR_NOERROR;
    bool fillsOnGet = true;
    bool keepsWrites = true;
    DWORD value = 0; // the control's value

    std::vector<std::string> calls;
    std::vector<DWORD> writes;
    UINT openDevice = 99;
    DWORD_PTR openCallback = 1;
    DWORD_PTR openInstance = 1;
    DWORD openFlags = 0, lineFlags = 0, controlsFlags = 0, getFlags = 0, setFlags = 0;
    HMIXEROBJ lineObject = NULL, controlsObject = NULL, detailsObject = NULL;
    HMIXER closed = NULL;
    MIXERLINEA line = {};
    MIXERLINECONTROLSA controls = {};
    MIXERCONTROLDETAILS details = {};

    MMRESULT Open(HMIXER* mixer, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override
    {
        calls.push_back("open");
        openDevice = deviceId;
        openCallback = callback;
        openInstance = instance;
        openFlags = flags;
        if (openResult == MMSYSERR_NOERROR)
            *mixer = FAKE_HANDLE;
        return openResult;
    }
    MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEA* lineInfo, DWORD flags) override
    {
        calls.push_back("line");
        lineObject = mixer;
        lineFlags = flags;
        line = *lineInfo;
        if (lineResult == MMSYSERR_NOERROR)
            lineInfo->dwLineID = FAKE_LINE_ID;
        return lineResult;
    }
    MMRESULT GetLineControls(HMIXEROBJ mixer, MIXERLINECONTROLSA* request, DWORD flags) override
    {
        calls.push_back("controls");
        controlsObject = mixer;
        controlsFlags = flags;
        controls = *request;
        if (controlsResult == MMSYSERR_NOERROR && request->cControls == 1 && request->cbmxctrl == sizeof(MIXERCONTROLA))
            request->pamxctrl->dwControlID = FAKE_CONTROL_ID;
        return controlsResult;
    }
    MMRESULT GetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* request, DWORD flags) override
    {
        calls.push_back("get");
        detailsObject = mixer;
        getFlags = flags;
        details = *request;
        if (getResult == MMSYSERR_NOERROR && fillsOnGet)
            static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(request->paDetails)->dwValue = value;
        return getResult;
    }
    MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* request, DWORD flags) override
    {
        calls.push_back("set");
        detailsObject = mixer;
        setFlags = flags;
        details = *request;
        DWORD written = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(request->paDetails)->dwValue;
        writes.push_back(written);
        if (setResult == MMSYSERR_NOERROR && keepsWrites)
            value = written;
        return setResult;
    }
    MMRESULT Close(HMIXER mixer) override
    {
        calls.push_back("close");
        closed = mixer;
        return MMSYSERR_NOERROR;
    }
};

// The control as the mixer sees it: a window that may change while the mixer object lives.
class CTestHost : public CPlayerHost
{
public:
    explicit CTestHost(HWND window) : m_window(window) {}
    HWND GetPlayerWindow() const override { return m_window; }
    HANDLE GetStartEvent() const override { return NULL; }
    void SetWindow(HWND window) { m_window = window; }

private:
    HWND m_window;
};

struct CMixerFixture : public ::testing::Test
{
    CTestWindow window;
    CTestHost host{window.Handle()};
    CFakeMixerApi api;

    size_t Texts() const { return window.Of(WM_PLAYER_MESSAGE).size(); }
};

std::vector<std::string> Calls(std::initializer_list<const char*> names)
{
    return std::vector<std::string>(names.begin(), names.end());
}
} // namespace

// --- The 0 to 100 scale ---

using MixerScale = CMixerFixture;

TEST_F(MixerScale, WritesSteppedBy655AndReadsBack)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    volume.SetVolume(50);
    EXPECT_EQ(32750u, api.value);
    EXPECT_EQ(50, volume.GetVolume());
    volume.SetVolume(100);
    EXPECT_EQ(65500u, api.value);
    EXPECT_EQ(100, volume.GetVolume());
    volume.SetVolume(1);
    EXPECT_EQ(655u, api.value);
    EXPECT_EQ(1, volume.GetVolume());
    volume.SetVolume(0);
    EXPECT_EQ(0u, api.value);
    EXPECT_EQ(0, volume.GetVolume());
    EXPECT_EQ((std::vector<DWORD>{32750, 65500, 655, 0}), api.writes);
    EXPECT_EQ(0u, Texts());
}

TEST_F(MixerScale, ReadsDivideBy655Downwards)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    api.value = 65535;
    EXPECT_EQ(100, volume.GetVolume());
    api.value = 654;
    EXPECT_EQ(0, volume.GetVolume());
    api.value = 655;
    EXPECT_EQ(1, volume.GetVolume());
    api.value = 32749;
    EXPECT_EQ(49, volume.GetVolume());
}

TEST_F(MixerScale, ValuesOutsideTheScaleAreWrittenUnchecked)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    volume.SetVolume(200);
    volume.SetVolume(-1);
    EXPECT_EQ((std::vector<DWORD>{131000, static_cast<DWORD>(-655)}), api.writes);
}

TEST_F(MixerScale, UnfilledReadIsZero)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    api.fillsOnGet = false;
    api.value = 65535;
    EXPECT_EQ(0, volume.GetVolume());
    EXPECT_EQ(0u, Texts());
}

// --- What is asked of the mixer ---

using MixerCalls = CMixerFixture;

TEST_F(MixerCalls, ConstructionFindsTheLinesVolumeControl)
{
    {
        CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
        EXPECT_EQ(Calls({"open", "line", "controls"}), api.calls);
        EXPECT_EQ(0u, api.openDevice);
        EXPECT_EQ(reinterpret_cast<DWORD_PTR>(window.Handle()), api.openCallback);
        EXPECT_EQ(0u, api.openInstance);
        EXPECT_EQ(static_cast<DWORD>(CALLBACK_WINDOW), api.openFlags);

        EXPECT_EQ(reinterpret_cast<HMIXEROBJ>(FAKE_HANDLE), api.lineObject);
        EXPECT_EQ(sizeof(MIXERLINEA), api.line.cbStruct);
        EXPECT_EQ(static_cast<DWORD>(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT), api.line.dwComponentType);
        EXPECT_EQ(0x80000003u, api.lineFlags);

        EXPECT_EQ(reinterpret_cast<HMIXEROBJ>(FAKE_HANDLE), api.controlsObject);
        EXPECT_EQ(sizeof(MIXERLINECONTROLSA), api.controls.cbStruct);
        EXPECT_EQ(FAKE_LINE_ID, api.controls.dwLineID);
        EXPECT_EQ(static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME), api.controls.dwControlType);
        EXPECT_EQ(1u, api.controls.cControls);
        EXPECT_EQ(sizeof(MIXERCONTROLA), api.controls.cbmxctrl);
        EXPECT_EQ(0x80000002u, api.controlsFlags);
        EXPECT_EQ(NULL, api.closed);
    }
    EXPECT_EQ(Calls({"open", "line", "controls", "close"}), api.calls);
    EXPECT_EQ(FAKE_HANDLE, api.closed);
}

TEST_F(MixerCalls, TheComponentTypeIsPassedOn)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, &api);
    EXPECT_EQ(static_cast<DWORD>(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS), api.line.dwComponentType);
}

TEST_F(MixerCalls, OneValueForAllChannelsOfTheFoundControl)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    auto expectOneValue = [&](const char* call) {
        SCOPED_TRACE(call);
        EXPECT_EQ(reinterpret_cast<HMIXEROBJ>(FAKE_HANDLE), api.detailsObject);
        EXPECT_EQ(sizeof(MIXERCONTROLDETAILS), api.details.cbStruct);
        EXPECT_EQ(FAKE_CONTROL_ID, api.details.dwControlID);
        EXPECT_EQ(1u, api.details.cChannels);
        EXPECT_EQ(0u, api.details.cMultipleItems);
        EXPECT_EQ(sizeof(MIXERCONTROLDETAILS_UNSIGNED), api.details.cbDetails);
    };
    volume.GetVolume();
    EXPECT_EQ(0x80000000u, api.getFlags);
    expectOneValue("get");
    api.details = {};
    volume.SetVolume(10);
    EXPECT_EQ(0x80000000u, api.setFlags);
    expectOneValue("set");
}

// --- Construction failures: one text, then an unavailable object ---

struct CConstructionCase
{
    const char* name;
    int failingStep; // 0 open, 1 line, 2 controls
    const char* text;
};

class MixerConstruction : public CMixerFixture, public ::testing::WithParamInterface<CConstructionCase>
{
};

TEST_P(MixerConstruction, FailureGivesItsTextOnceAndLeavesTheObjectUnavailable)
{
    const CConstructionCase& c = GetParam();
    MMRESULT* results[] = {&api.openResult, &api.lineResult, &api.controlsResult};
    *results[c.failingStep] = MMSYSERR_ERROR;
    api.value = 65535;
    size_t callsAfterConstruction = 0;
    {
        CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
        EXPECT_EQ(static_cast<size_t>(c.failingStep + 1), api.calls.size());
        EXPECT_EQ(1, window.CountMessages(c.text, 0));
        EXPECT_EQ(1u, Texts());
        callsAfterConstruction = api.calls.size();

        EXPECT_EQ(0, volume.GetVolume());
        volume.SetVolume(50);
        volume.SetVolume(100);
        EXPECT_EQ(0, volume.GetVolume());
        EXPECT_EQ(callsAfterConstruction, api.calls.size());
        EXPECT_TRUE(api.writes.empty());
        EXPECT_EQ(1u, Texts());
    }
    // An opened mixer is closed again; one that never opened is not.
    if (c.failingStep == 0) {
        EXPECT_EQ(callsAfterConstruction, api.calls.size());
    } else {
        EXPECT_EQ("close", api.calls.back());
        EXPECT_EQ(FAKE_HANDLE, api.closed);
    }
}

INSTANTIATE_TEST_SUITE_P(EachStep, MixerConstruction,
                         ::testing::Values(CConstructionCase{"Open", 0, EXPECT_MIXER_OPEN_FAILED},
                                           CConstructionCase{"LineInfo", 1, EXPECT_MIXER_LINE_FAILED},
                                           CConstructionCase{"LineControls", 2, EXPECT_MIXER_CONTROLS_FAILED}),
                         [](const ::testing::TestParamInfo<CConstructionCase>& info) { return info.param.name; });

TEST(MixerConstructionWithoutWindow, FailureReachesNoWindowAndNothingBreaks)
{
    CFakeMixerApi api;
    api.openResult = MMSYSERR_NODRIVER;
    CTestHost host(NULL);
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    EXPECT_EQ(0u, api.openCallback);
    EXPECT_EQ(0, volume.GetVolume());
    CMixerVolume ownerless(NULL, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    EXPECT_EQ(0, ownerless.GetVolume());
}

// --- Failures after a good construction ---

using MixerRuntime = CMixerFixture;

TEST_F(MixerRuntime, FailedWriteIsReportedEachTimeToTheOwnersCurrentWindow)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    CTestWindow later;
    host.SetWindow(later.Handle());
    api.setResult = MMSYSERR_ERROR;
    volume.SetVolume(30);
    volume.SetVolume(40);
    EXPECT_EQ(0u, Texts());
    EXPECT_EQ(2, later.CountMessages(EXPECT_MIXER_SET_FAILED, 0));
    EXPECT_EQ(2u, later.Of(WM_PLAYER_MESSAGE).size());

    // Still available: the next write goes through.
    api.setResult = MMSYSERR_NOERROR;
    volume.SetVolume(70);
    EXPECT_EQ(45850u, api.value);
    EXPECT_EQ(70, volume.GetVolume());
    EXPECT_EQ(2u, later.Of(WM_PLAYER_MESSAGE).size());
}

TEST_F(MixerRuntime, FailedReadIsReportedAndReadsZero)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    api.value = 65500;
    api.getResult = MMSYSERR_INVALHANDLE;
    EXPECT_EQ(0, volume.GetVolume());
    EXPECT_EQ(0, volume.GetVolume());
    EXPECT_EQ(2, window.CountMessages(EXPECT_MIXER_GET_FAILED, 0));
    EXPECT_EQ(2u, Texts());

    api.getResult = MMSYSERR_NOERROR;
    EXPECT_EQ(100, volume.GetVolume());
    EXPECT_EQ(2u, Texts());
}

TEST_F(MixerRuntime, FailureWithoutAWindowIsDropped)
{
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api);
    host.SetWindow(NULL);
    api.setResult = MMSYSERR_ERROR;
    volume.SetVolume(30);
    EXPECT_EQ(0u, Texts());
}

// --- The device volume, where the line keeps nothing ---

TEST(DeviceVolume, FullAndNotGivenUntilSet)
{
    CDeviceVolume volume;
    DWORD raw = 0x1234;
    EXPECT_EQ(100, volume.Get());
    EXPECT_FALSE(volume.Query(&raw));
    EXPECT_EQ(0x1234u, raw);
}

TEST(DeviceVolume, BothChannelsSteppedBy655AndReadBack)
{
    CDeviceVolume volume;
    DWORD raw = 0;
    volume.Set(20);
    EXPECT_EQ(20, volume.Get());
    ASSERT_TRUE(volume.Query(&raw));
    EXPECT_EQ(0x332C332Cu, raw); // 13100 on each channel
    for (int value = 0; value <= 100; ++value) {
        volume.Set(value);
        EXPECT_EQ(value, volume.Get());
    }
    volume.Set(100);
    ASSERT_TRUE(volume.Query(&raw));
    EXPECT_EQ(0xFFDCFFDCu, raw);
    volume.Set(0);
    ASSERT_TRUE(volume.Query(&raw));
    EXPECT_EQ(0u, raw);
}

TEST(DeviceVolume, OutOfScaleValuesAreClampedNotWrapped)
{
    CDeviceVolume volume;
    DWORD raw = 0;
    volume.Set(200);
    EXPECT_EQ(100, volume.Get());
    volume.Set(-1);
    EXPECT_EQ(0, volume.Get());
    ASSERT_TRUE(volume.Query(&raw));
    EXPECT_EQ(0u, raw);
}

using MixerFallback = CMixerFixture;

TEST_F(MixerFallback, AWorkingLineIsCheckedOnceAndKept)
{
    api.value = 30000;
    CDeviceVolume device;
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api, &device);
    // Read, write one unit off, read that back, put the first value back.
    EXPECT_EQ(Calls({"open", "line", "controls", "get", "set", "get", "set"}), api.calls);
    EXPECT_EQ((std::vector<DWORD>{30001, 30000}), api.writes);
    EXPECT_EQ(30000u, api.value);
    EXPECT_FALSE(volume.UsesDeviceVolume());

    volume.SetVolume(50);
    EXPECT_EQ(32750u, api.value);
    EXPECT_EQ(50, volume.GetVolume());
    DWORD raw = 0;
    EXPECT_FALSE(device.Query(&raw)) << "the devices keep their own volume";
    EXPECT_EQ(0u, Texts());
}

// Wine: the lookups succeed and every call answers success, but a read fills nothing in.
TEST_F(MixerFallback, AReadThatFillsNothingChoosesTheDevice)
{
    api.fillsOnGet = false;
    CDeviceVolume device;
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api, &device);
    EXPECT_EQ(Calls({"open", "line", "controls", "get"}), api.calls);
    EXPECT_TRUE(volume.UsesDeviceVolume());

    EXPECT_EQ(100, volume.GetVolume());
    volume.SetVolume(20);
    EXPECT_EQ(20, volume.GetVolume());
    DWORD raw = 0;
    ASSERT_TRUE(device.Query(&raw));
    EXPECT_EQ(0x332C332Cu, raw);
    EXPECT_EQ(4u, api.calls.size()) << "the mixer is left alone from then on";
    EXPECT_TRUE(api.writes.empty());
    EXPECT_EQ(0u, Texts());
}

TEST_F(MixerFallback, AWriteThatIsNotKeptChoosesTheDeviceAndIsUndone)
{
    api.value = 40000;
    api.keepsWrites = false;
    CDeviceVolume device;
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api, &device);
    EXPECT_TRUE(volume.UsesDeviceVolume());
    EXPECT_EQ((std::vector<DWORD>{40001, 40000}), api.writes);
    volume.SetVolume(70);
    EXPECT_EQ(70, volume.GetVolume());
    EXPECT_EQ(2u, api.writes.size());
    EXPECT_EQ(0u, Texts());
}

TEST_F(MixerFallback, FailingCheckCallsChooseTheDeviceWithoutTexts)
{
    for (int failing = 0; failing < 2; ++failing) {
        SCOPED_TRACE(failing == 0 ? "read" : "write");
        CFakeMixerApi failingApi;
        (failing == 0 ? failingApi.getResult : failingApi.setResult) = MMSYSERR_ERROR;
        CDeviceVolume device;
        CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &failingApi, &device);
        EXPECT_TRUE(volume.UsesDeviceVolume());
        volume.SetVolume(20);
        EXPECT_EQ(20, volume.GetVolume());
    }
    EXPECT_EQ(0u, Texts());
}

TEST_P(MixerConstruction, WithADeviceTheFailureStillGivesItsTextAndTheDeviceTakesOver)
{
    const CConstructionCase& c = GetParam();
    MMRESULT* results[] = {&api.openResult, &api.lineResult, &api.controlsResult};
    *results[c.failingStep] = MMSYSERR_ERROR;
    CDeviceVolume device;
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &api, &device);
    EXPECT_EQ(1, window.CountMessages(c.text, 0));
    EXPECT_TRUE(volume.UsesDeviceVolume());
    size_t calls = api.calls.size();
    volume.SetVolume(20);
    EXPECT_EQ(20, volume.GetVolume());
    EXPECT_EQ(calls, api.calls.size());
    EXPECT_EQ(1u, Texts());
}

// --- Wine's own mixer (the test environment's sound server gives it its devices) ---

TEST(MixerSystem, WaveOutLineIsFoundAndReadsWithinTheScale)
{
    ASSERT_GT(mixerGetNumDevs(), 0u) << "no mixer device: is the test environment's sound server running?";
    CTestWindow window;
    CTestHost host(window.Handle());
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size()) << "construction failed";
    int before = volume.GetVolume();
    EXPECT_GE(before, 0);
    EXPECT_LE(before, 100);
    volume.SetVolume(50);
    int after = volume.GetVolume();
    EXPECT_GE(after, 0);
    EXPECT_LE(after, 100);
    window.Pump(0);
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
}

// Measured under Wine 8: its wave-out source line holds no value, so the device takes over.
TEST(MixerSystem, WinesWaveOutLineChoosesTheDeviceVolume)
{
    CTestWindow window;
    CTestHost host(window.Handle());
    CDeviceVolume device;
    CMixerVolume volume(&host, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, NULL, &device);
    EXPECT_TRUE(volume.UsesDeviceVolume());
    volume.SetVolume(20);
    EXPECT_EQ(20, volume.GetVolume());
    window.Pump(0);
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
}
