// The skinned face of pelradio's window: layout, pictures shown and hidden, the label, hit regions.
#pragma once

#include <windows.h>

#include <string>

#define SKIN_WIDTH 354
#define SKIN_HEIGHT 107

// The regions that answer the mouse, topmost first where they overlap.
enum ERegion
{
    REGION_NONE, // the bare window
    REGION_CLOSE,
    REGION_MINIMISE,
    REGION_TITLE,
    REGION_DEMAND,
    REGION_RECORD,
    REGION_LOGO,
    REGION_PLAY,
    REGION_STOP,
    REGION_RAMP,
    REGION_CREDIT,
};

enum EIndicator
{
    INDICATOR_DISCONNECTED,
    INDICATOR_CONNECTING,
    INDICATOR_CONNECTED,
};

#define RAMP_LEFT 313
#define RAMP_TOP 62
#define BANNER_COUNT 4

class CSkin
{
public:
    CSkin();
    ~CSkin();
    CSkin(const CSkin&) = delete;
    CSkin& operator=(const CSkin&) = delete;

    // Loads the pictures; the window is repainted where the state changes.
    void Attach(HWND window, HINSTANCE instance);

    void Paint(HDC dc) const;
    ERegion HitTest(POINT point) const;
    // True over the regions that show the hand pointer.
    static bool IsHandRegion(ERegion region);

    void ShowIndicator(EIndicator which);
    void SetBoxPressed(ERegion box, bool pressed);
    void SetBannerVisible(int banner, bool visible);
    bool IsBannerVisible(int banner) const { return m_bBanner[banner]; }
    void SetLampVisible(bool visible);
    bool IsLampVisible() const { return m_bLamp; }
    // The knob's left edge inside the ramp, 0 to 20.
    void SetKnob(int left);
    void SetLabel(const std::wstring& text);

private:
    void Invalidate(const RECT& area) const;

    HWND m_hWnd;
    HBITMAP m_hSkin;
    HBITMAP m_hIndicator[3];
    HBITMAP m_hBanner[BANNER_COUNT];
    HBITMAP m_hLamp, m_hRamp, m_hKnob, m_hBlank, m_hClosePressed, m_hMinPressed;
    HFONT m_hFont;

    EIndicator m_indicator;
    bool m_bBanner[BANNER_COUNT];
    bool m_bLamp;
    bool m_bClosePressed;
    bool m_bMinPressed;
    int m_nKnob;
    std::wstring m_label;
};
