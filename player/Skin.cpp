// pelradio's skin: where each picture lies, how the face is painted, which region is under a point.
#include "Skin.h"

#include "resource.h"

namespace
{
struct CPlace
{
    int x, y, cx, cy;
};

const CPlace TITLE_STRIP = {0, 0, 354, 21};
const CPlace CLOSE_BOX = {5, 5, 11, 12};
const CPlace MIN_BOX = {338, 5, 11, 12};
const CPlace DEMAND_TAB = {74, 25, 58, 11};
const CPlace RECORD_TAB = {131, 24, 46, 11};
const CPlace RECORD_LAMP = {160, 27, 7, 7};
const CPlace LOGO = {179, 25, 165, 26};
const CPlace INDICATOR[3] = {{14, 42, 52, 5}, {14, 42, 44, 5}, {14, 42, 41, 5}};
const CPlace PLAY_BUTTON = {15, 59, 9, 9};
const CPlace STOP_BUTTON = {26, 59, 9, 9};
const CPlace LABEL = {47, 62, 261, 12};
const CPlace RAMP = {RAMP_LEFT, RAMP_TOP, 25, 13};
const CPlace CREDIT = {13, 84, 109, 9};
// Inside the window's edge, clear of every picture that changes.
const CPlace FOCUS_CUE = {1, 1, 352, 105};
const CPlace BANNER[BANNER_COUNT] = {{268, 86, 70, 5}, {293, 86, 46, 5}, {290, 86, 48, 5}, {274, 86, 65, 5}};

// Stacking order for the mouse: the boxes lie on the title strip and take the mouse first.
const struct
{
    ERegion region;
    CPlace place;
} REGIONS[] = {
    {REGION_CLOSE, CLOSE_BOX},   {REGION_MINIMISE, MIN_BOX}, {REGION_TITLE, TITLE_STRIP},
    {REGION_DEMAND, DEMAND_TAB}, {REGION_RECORD, RECORD_TAB}, {REGION_LOGO, LOGO},
    {REGION_PLAY, PLAY_BUTTON},  {REGION_STOP, STOP_BUTTON},  {REGION_RAMP, RAMP},
    {REGION_CREDIT, CREDIT},
};

const COLORREF LABEL_TEXT = RGB(132, 232, 255);
// The label's font height in pixels at 96 dots per inch.
const int LABEL_FONT_HEIGHT = 12;
const COLORREF BACKGROUND = RGB(192, 192, 192);

RECT Rect(const CPlace& p)
{
    RECT r = {p.x, p.y, p.x + p.cx, p.y + p.cy};
    return r;
}

// A memory device context, deleted when it goes.
class CMemoryDc
{
public:
    explicit CMemoryDc(HDC like) : m_hDc(CreateCompatibleDC(like)) {}
    ~CMemoryDc() { DeleteDC(m_hDc); }
    CMemoryDc(const CMemoryDc&) = delete;
    CMemoryDc& operator=(const CMemoryDc&) = delete;
    operator HDC() const { return m_hDc; }

private:
    HDC m_hDc;
};

// An object selected into a device context until the selection goes; the object it replaced is
// put back then, so that the context can be deleted and the object freed.
class CSelection
{
public:
    CSelection(HDC dc, HGDIOBJ object) : m_hDc(dc), m_hOld(SelectObject(dc, object)) {}
    ~CSelection() { SelectObject(m_hDc, m_hOld); }
    CSelection(const CSelection&) = delete;
    CSelection& operator=(const CSelection&) = delete;

private:
    HDC m_hDc;
    HGDIOBJ m_hOld;
};

// A GDI object of our own making (bitmap, brush), deleted when it goes; declared before the
// selection that holds it, so that the selection ends first.
class CGdiObject
{
public:
    explicit CGdiObject(HGDIOBJ object) : m_hObject(object) {}
    ~CGdiObject() { DeleteObject(m_hObject); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    HGDIOBJ Get() const { return m_hObject; }

private:
    HGDIOBJ m_hObject;
};

// Draws a picture's own size at (x, y); a place larger than its picture shows the skin around it.
void Blit(HDC dc, HDC source, HBITMAP picture, int x, int y)
{
    BITMAP info;
    if (picture == NULL || GetObject(picture, sizeof(info), &info) == 0)
        return;
    CSelection selected(source, picture);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
}

HBITMAP Load(HINSTANCE instance, int id)
{
    return static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}
} // namespace

CSkin::CSkin()
    : m_hWnd(NULL), m_hSkin(NULL), m_hIndicator(), m_hBanner(), m_hLamp(NULL), m_hRamp(NULL), m_hKnob(NULL),
      m_hBlank(NULL), m_hClosePressed(NULL), m_hMinPressed(NULL), m_hFont(NULL), m_indicator(INDICATOR_DISCONNECTED),
      m_bBanner(), m_bLamp(false), m_bClosePressed(false), m_bMinPressed(false), m_nKnob(20),
      m_bFocusCue(false), m_nDpi(USER_DEFAULT_SCREEN_DPI)
{
}

CSkin::~CSkin()
{
    HGDIOBJ objects[] = {m_hSkin, m_hIndicator[0], m_hIndicator[1], m_hIndicator[2], m_hBanner[0], m_hBanner[1],
                         m_hBanner[2], m_hBanner[3], m_hLamp, m_hRamp, m_hKnob, m_hBlank, m_hClosePressed,
                         m_hMinPressed, m_hFont};
    for (HGDIOBJ object : objects)
        if (object != NULL)
            DeleteObject(object);
}

void CSkin::Attach(HWND window, HINSTANCE instance)
{
    m_hWnd = window;
    m_hSkin = Load(instance, IDB_SKIN);
    m_hIndicator[INDICATOR_DISCONNECTED] = Load(instance, IDB_DISCONNECTED);
    m_hIndicator[INDICATOR_CONNECTING] = Load(instance, IDB_CONNECTING);
    m_hIndicator[INDICATOR_CONNECTED] = Load(instance, IDB_CONNECTED);
    for (int i = 0; i < BANNER_COUNT; ++i)
        m_hBanner[i] = Load(instance, IDB_BANNER0 + i);
    m_hLamp = Load(instance, IDB_LAMP);
    m_hRamp = Load(instance, IDB_RAMP);
    m_hKnob = Load(instance, IDB_KNOB);
    m_hBlank = Load(instance, IDB_BLANK);
    m_hClosePressed = Load(instance, IDB_CLOSE_PRESSED);
    m_hMinPressed = Load(instance, IDB_MIN_PRESSED);
    SetDpi(m_nDpi);
}

void CSkin::SetDpi(int dpi)
{
    m_nDpi = dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
    if (m_hFont != NULL)
        DeleteObject(m_hFont);
    // Gulim is the Korean systems' own UI face; elsewhere the font mapper finds the nearest.
    m_hFont = CreateFontW(-MulDiv(LABEL_FONT_HEIGHT, m_nDpi, USER_DEFAULT_SCREEN_DPI), 0, 0, 0, FW_NORMAL, FALSE,
                          FALSE, FALSE, HANGEUL_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Gulim");
    if (m_hWnd != NULL)
        InvalidateRect(m_hWnd, NULL, FALSE);
}

SIZE CSkin::Size() const
{
    SIZE size = {MulDiv(SKIN_WIDTH, m_nDpi, USER_DEFAULT_SCREEN_DPI),
                 MulDiv(SKIN_HEIGHT, m_nDpi, USER_DEFAULT_SCREEN_DPI)};
    return size;
}

POINT CSkin::ToSkin(POINT client) const
{
    POINT skin = {client.x * USER_DEFAULT_SCREEN_DPI / m_nDpi, client.y * USER_DEFAULT_SCREEN_DPI / m_nDpi};
    return skin;
}

RECT CSkin::ToClient(const RECT& skin) const
{
    const int d = m_nDpi, n = USER_DEFAULT_SCREEN_DPI;
    RECT client = {skin.left * d / n, skin.top * d / n, (skin.right * d + n - 1) / n, (skin.bottom * d + n - 1) / n};
    return client;
}

void CSkin::Paint(HDC target) const
{
    // Composed off screen first, so that nothing flickers while pictures change.
    CMemoryDc dc(target);
    CGdiObject canvas(CreateCompatibleBitmap(target, SKIN_WIDTH, SKIN_HEIGHT));
    CSelection onCanvas(dc, canvas.Get());
    CMemoryDc source(target);

    RECT all = {0, 0, SKIN_WIDTH, SKIN_HEIGHT};
    CGdiObject background(CreateSolidBrush(BACKGROUND));
    FillRect(dc, &all, static_cast<HBRUSH>(background.Get()));
    Blit(dc, source, m_hSkin, 0, 0);
    Blit(dc, source, m_bClosePressed ? m_hClosePressed : m_hBlank, CLOSE_BOX.x, CLOSE_BOX.y);
    Blit(dc, source, m_bMinPressed ? m_hMinPressed : m_hBlank, MIN_BOX.x, MIN_BOX.y);
    if (m_bLamp)
        Blit(dc, source, m_hLamp, RECORD_LAMP.x, RECORD_LAMP.y);
    Blit(dc, source, m_hIndicator[m_indicator], INDICATOR[m_indicator].x, INDICATOR[m_indicator].y);
    Blit(dc, source, m_hRamp, RAMP.x, RAMP.y);
    Blit(dc, source, m_hKnob, RAMP.x + m_nKnob, RAMP.y);
    for (int i = 0; i < BANNER_COUNT; ++i)
        if (m_bBanner[i])
            Blit(dc, source, m_hBanner[i], BANNER[i].x, BANNER[i].y);

    if (m_nDpi == USER_DEFAULT_SCREEN_DPI) {
        DrawOverlay(dc);
        BitBlt(target, 0, 0, SKIN_WIDTH, SKIN_HEIGHT, dc, 0, 0, SRCCOPY);
        return;
    }
    // The pictures stretched as one, so that no seam shows between them; the text after, sharp.
    SIZE size = Size();
    CMemoryDc scaled(target);
    CGdiObject scaledCanvas(CreateCompatibleBitmap(target, size.cx, size.cy));
    CSelection onScaled(scaled, scaledCanvas.Get());
    SetStretchBltMode(scaled, HALFTONE);
    SetBrushOrgEx(scaled, 0, 0, NULL);
    StretchBlt(scaled, 0, 0, size.cx, size.cy, dc, 0, 0, SKIN_WIDTH, SKIN_HEIGHT, SRCCOPY);
    DrawOverlay(scaled);
    BitBlt(target, 0, 0, size.cx, size.cy, scaled, 0, 0, SRCCOPY);
}

// The label and the focus cue, at the current scale.
void CSkin::DrawOverlay(HDC dc) const
{
    // The title as the page has it: no mnemonic prefixes, line breaks kept, cut at the label.
    RECT label = ToClient(Rect(LABEL));
    {
        CSelection inFont(dc, m_hFont);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, LABEL_TEXT);
        DrawTextW(dc, m_label.c_str(), static_cast<int>(m_label.size()), &label, DT_NOPREFIX | DT_LEFT | DT_TOP);
    }
    if (m_bFocusCue) {
        RECT cue = ToClient(Rect(FOCUS_CUE));
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        DrawFocusRect(dc, &cue);
    }
}

ERegion CSkin::HitTest(POINT client) const
{
    POINT point = ToSkin(client);
    for (const auto& entry : REGIONS) {
        RECT r = Rect(entry.place);
        if (PtInRect(&r, point))
            return entry.region;
    }
    return REGION_NONE;
}

RECT CSkin::PlaceOf(ERegion region) const
{
    for (const auto& entry : REGIONS)
        if (entry.region == region)
            return ToClient(Rect(entry.place));
    RECT none = {0, 0, 0, 0};
    return none;
}

RECT CSkin::LabelPlace() const { return ToClient(Rect(LABEL)); }

RECT CSkin::IndicatorPlace() const { return ToClient(Rect(INDICATOR[m_indicator])); }

bool CSkin::IsHandRegion(ERegion region)
{
    return region == REGION_DEMAND || region == REGION_RECORD || region == REGION_LOGO || region == REGION_PLAY ||
           region == REGION_STOP || region == REGION_CREDIT;
}

void CSkin::Invalidate(const RECT& area) const
{
    RECT client = ToClient(area);
    // A stretched picture's filter reaches a pixel past its edges.
    if (m_nDpi != USER_DEFAULT_SCREEN_DPI)
        InflateRect(&client, 2, 2);
    if (m_hWnd != NULL)
        InvalidateRect(m_hWnd, &client, FALSE);
}

void CSkin::ShowIndicator(EIndicator which)
{
    if (m_indicator == which)
        return;
    m_indicator = which;
    Invalidate(Rect(INDICATOR[INDICATOR_DISCONNECTED])); // the widest of the three
}

void CSkin::SetBoxPressed(ERegion box, bool pressed)
{
    bool& state = box == REGION_CLOSE ? m_bClosePressed : m_bMinPressed;
    if (state == pressed)
        return;
    state = pressed;
    Invalidate(Rect(box == REGION_CLOSE ? CLOSE_BOX : MIN_BOX));
}

void CSkin::SetBannerVisible(int banner, bool visible)
{
    if (m_bBanner[banner] == visible)
        return;
    m_bBanner[banner] = visible;
    Invalidate(Rect(BANNER[banner]));
}

void CSkin::SetLampVisible(bool visible)
{
    if (m_bLamp == visible)
        return;
    m_bLamp = visible;
    Invalidate(Rect(RECORD_LAMP));
}

void CSkin::SetKnob(int left)
{
    if (m_nKnob == left)
        return;
    m_nKnob = left;
    Invalidate(Rect(RAMP));
}

void CSkin::SetFocusCue(bool shown)
{
    if (m_bFocusCue == shown || m_hWnd == NULL)
        return;
    m_bFocusCue = shown;
    InvalidateRect(m_hWnd, NULL, FALSE);
}

void CSkin::SetLabel(const std::wstring& text)
{
    m_label = text;
    Invalidate(Rect(LABEL));
}
