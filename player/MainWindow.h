// pelradio's main window: the window state, start-up, the control, the indicator, the tray and the mouse.
#pragma once

#include <windows.h>

#include <memory>

#include "ControlHost.h"
#include "PageFetch.h"
#include "Recorder.h"
#include "Skin.h"
#include "TrayIcon.h"
#include "WindowAccessible.h"

// Messages of the window to itself.
#define WM_PELRADIO_TITLE (WM_APP + 1)  // the title fetch is done: its result waits in CPageFetch
#define WM_PELRADIO_SOCKET (WM_APP + 2) // the recorder's socket events
#define WM_PELRADIO_LOOKUP (WM_APP + 3) // the answer of the recorder's host lookup
#define WM_PELRADIO_HLS_AUDIO (WM_APP + 4) // frames of the recorder's HLS source (CRecorderHls)
#define WM_PELRADIO_HLS_ENDED (WM_APP + 5) // the recorder's HLS source has ended its run

// The window's state; everything starts at zero.
struct CWindowState
{
    short recording;    // 1 while a recording runs, as the recorder reports it
    short connectShown; // 0 after play; 1 once a buffer report has set the indicator
    short trayFrame;    // icon frame shown last, 0 to 2
    float dragOrigin[2]; // pointer at the last left press on the title strip
};

class CMainWindow
{
public:
    CMainWindow();
    ~CMainWindow();
    CMainWindow(const CMainWindow&) = delete;
    CMainWindow& operator=(const CMainWindow&) = delete;

    // Creates the window, runs the start-up and shows it; false when no window could be made.
    bool Create(HINSTANCE instance);

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void StartUp();

    // Operations the skin's regions, the tick and the icon call.
    void Play();
    void Stop();
    void Hide();
    void Show();
    void Exit();
    void Tick();
    void GetSong();
    void OnTitlePage();
    void OnBufferStateChanged();
    void SetIndicator(EIndicator which);
    void OnRecorderChanged(int banner);
    void SetVolumeFromRamp(int x);
    // 0 to 100 in steps of 5; the knob follows.
    void SetVolume(int volume);
    void TogglePlay();
    // Mute sets 0 and remembers the level; the next mute, or a step, starts from that level.
    void ToggleMute();
    // The window's keys; true when the key was one of them.
    bool OnKey(WPARAM key, bool repeat);
    // A media command from the shell or a hot key; true when it was one of ours.
    bool OnMediaCommand(int command);
    void RegisterMediaKeys();
    // What a screen reader learns of a child of the window, and its default action.
    void DescribeChild(LONG child, CAccessibleItem* item);
    void ActOnChild(LONG child);
    void NotifyChanged(DWORD event, LONG child) const;
    // MESSAGE(n): hides the four banners, then shows banner n.
    void Message(int banner);
    void OpenPage(const std::wstring& commandLine);

    // Mouse events, already routed to the region they belong to.
    void OnPress(ERegion region, UINT button, POINT point);
    void OnMove(ERegion region, WPARAM buttons, POINT point, LPARAM lParam);
    void OnClick(ERegion region);

    HWND m_hWnd;
    HINSTANCE m_hInstance;
    HICON m_hTray[3];
    HCURSOR m_hHand;
    CWindowState m_state;
    CSkin m_skin;
    CControlHost m_player;
    std::unique_ptr<CTrayIcon> m_tray;
    std::unique_ptr<CPageFetch> m_titleFetch;
    CRecorder m_recorder;
    // The region that got the last button press; it keeps the mouse until the buttons are up.
    ERegion m_pressed;
    // Whether the listener asked to play: reports after the stop button change nothing.
    bool m_bPlaying;
    // The volume last set, 0 to 100, and the level that a mute left (-1: not muted).
    int m_nVolume;
    int m_nMutedFrom;
    // The media keys that this window holds as hot keys, one bit each (see MEDIA_KEYS).
    unsigned m_hotKeys;
    // Set by the first key the window acts on: the focus cue shows from then on.
    bool m_bKeyboardUsed;
    // Made at a screen reader's first question; disconnected when the window goes.
    CWindowAccessible* m_pAccessible;
};
