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
    // The region under a client-area point.
    ERegion HitTest(POINT client) const;
    // Where a region, the label and the indicator lie in the client area.
    RECT PlaceOf(ERegion region) const;
    RECT LabelPlace() const;
    RECT IndicatorPlace() const;

    // The skin is laid out at 96 dots per inch and drawn at the monitor's: pictures stretched
    // smoothly, text drawn at full resolution. At 96 every pixel is the picture's own.
    void SetDpi(int dpi);
    int Dpi() const { return m_nDpi; }
    // The window's size at the current scale.
    SIZE Size() const;
    // A client-area point in the skin's own 96-dpi units.
    POINT ToSkin(POINT client) const;
    EIndicator Indicator() const { return m_indicator; }
    const std::wstring& Label() const { return m_label; }
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
    // A dotted frame inside the window's edge while it has the focus and the keyboard is in use.
    void SetFocusCue(bool shown);

private:
    void Invalidate(const RECT& area) const;
    // A rectangle of the skin's units in client pixels, covering every pixel it touches.
    RECT ToClient(const RECT& skin) const;
    void DrawOverlay(HDC dc) const;

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
    bool m_bFocusCue;
    int m_nDpi;
};
