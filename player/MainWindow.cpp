// pelradio's main window: start-up, the control's reports, the tick, the tray icon and the skin's regions.
#include "MainWindow.h"

#include <windowsx.h>

#include "Config.h"
#include "Dispids.h"
#include "resource.h"

namespace
{
const char WINDOW_CLASS[] = "PelradioMainWindow";
const UINT_PTR TIMER_TICK = 1;
const UINT_PTR TIMER_TITLE = 2;
// The tray icon's callback is the mouse-move message: the window's move handling serves both.
const UINT TRAY_CALLBACK = WM_MOUSEMOVE;
const size_t LABEL_MAX_CHARS = 1024;
// Where the control's own window goes: below the skin at any scale up to 400%, out of sight.
const RECT CONTROL_PLACE = {0, 4 * SKIN_HEIGHT, 32, 4 * SKIN_HEIGHT + 32};
const int VOLUME_STEP = 5;
// The media keys held as hot keys, for a shell that sends no WM_APPCOMMAND to a hidden window;
// the hot key's id is its place here.
const struct
{
    UINT key;
    int command;
} MEDIA_KEYS[] = {
    {VK_MEDIA_PLAY_PAUSE, APPCOMMAND_MEDIA_PLAY_PAUSE}, {VK_MEDIA_STOP, APPCOMMAND_MEDIA_STOP},
    {VK_VOLUME_UP, APPCOMMAND_VOLUME_UP},               {VK_VOLUME_DOWN, APPCOMMAND_VOLUME_DOWN},
    {VK_VOLUME_MUTE, APPCOMMAND_VOLUME_MUTE},
};
const int MEDIA_KEY_COUNT = sizeof(MEDIA_KEYS) / sizeof(MEDIA_KEYS[0]);

// The window's monitor's dots per inch where the system tells them per window (Windows 10 on),
// the system's own before.
int WindowDpi(HWND window)
{
    typedef UINT(WINAPI * GetDpiForWindowFn)(HWND);
    auto perWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (perWindow != NULL) {
        UINT dpi = perWindow(window);
        if (dpi != 0)
            return static_cast<int>(dpi);
    }
    HDC screen = GetDC(NULL);
    int dpi = screen != NULL ? GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
    if (screen != NULL)
        ReleaseDC(NULL, screen);
    return dpi;
}
} // namespace

CMainWindow::CMainWindow()
    : m_hWnd(NULL), m_hInstance(NULL), m_hTray(), m_hHand(NULL), m_state(),
      m_player([this](DISPID id) {
          if (id == EVENTID_KEL_CHANGEBUFFERSTATE)
              OnBufferStateChanged();
      }),
      m_recorder([this](int banner) { OnRecorderChanged(banner); }), m_pressed(REGION_NONE),
      m_bPlaying(false), m_nVolume(STARTUP_VOLUME), m_nMutedFrom(-1), m_hotKeys(0), m_bKeyboardUsed(false),
      m_pAccessible(NULL)
{
}

CMainWindow::~CMainWindow()
{
    m_player.Destroy();
    if (m_hWnd != NULL)
        DestroyWindow(m_hWnd);
    for (HICON& icon : m_hTray) {
        if (icon != NULL)
            DestroyIcon(icon);
        icon = NULL;
    }
}

bool CMainWindow::Create(HINSTANCE instance)
{
    m_hInstance = instance;
    for (int i = 0; i < 3; ++i)
        m_hTray[i] = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_TRAY0 + i), IMAGE_ICON, 16, 16, 0));
    m_hHand = LoadCursorA(instance, MAKEINTRESOURCEA(IDC_POINTING_HAND));

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PELRADIO));
    wc.hIconSm = m_hTray[0];
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassExA(&wc);

    // No frame: the client area is the window, the skin's size, placed in the middle of the desktop.
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int x = work.left + (work.right - work.left - SKIN_WIDTH) / 2;
    int y = work.top + (work.bottom - work.top - SKIN_HEIGHT) / 2;
    m_hWnd = CreateWindowExA(0, WINDOW_CLASS, WINDOW_CAPTION, WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX,
                             x, y, SKIN_WIDTH, SKIN_HEIGHT, NULL, NULL, instance, this);
    if (m_hWnd == NULL)
        return false;
    m_skin.Attach(m_hWnd, instance);
    // The monitor's scale, about the same middle.
    int dpi = WindowDpi(m_hWnd);
    if (dpi != USER_DEFAULT_SCREEN_DPI) {
        m_skin.SetDpi(dpi);
        SIZE size = m_skin.Size();
        SetWindowPos(m_hWnd, NULL, work.left + (work.right - work.left - size.cx) / 2,
                     work.top + (work.bottom - work.top - size.cy) / 2, size.cx, size.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    m_tray.reset(new CTrayIcon(m_hWnd, TRAY_CALLBACK, TRAY_TIP));
    m_titleFetch.reset(new CPageFetch(m_hWnd, WM_PELRADIO_TITLE));
    m_player.Create(m_hWnd, CONTROL_PLACE);
    m_recorder.Attach(m_hWnd);

    StartUp();
    RegisterMediaKeys();
    SetTimer(m_hWnd, TIMER_TICK, TICK_INTERVAL, NULL);
    SetTimer(m_hWnd, TIMER_TITLE, TITLE_INTERVAL, NULL);
    ShowWindow(m_hWnd, SW_SHOW);
    UpdateWindow(m_hWnd);
    return true;
}

// Each step goes on whatever the one before it did.
void CMainWindow::StartUp()
{
    m_tray->Add(m_hTray[0]);
    SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // The start-up's play is a play like the button's: the indicator says it is connecting.
    Play();
    GetSong();
    m_player.PutShort(DISPID_KEL_VOLUME, STARTUP_VOLUME);
}

void CMainWindow::Play()
{
    m_state.connectShown = 0;
    m_bPlaying = true;
    SetIndicator(INDICATOR_CONNECTING);
    m_player.PutString(DISPID_KEL_URL, STREAM_URL);
    m_player.Call(DISPID_KEL_PLAY);
}

void CMainWindow::Stop()
{
    m_player.Call(DISPID_KEL_STOP);
    m_bPlaying = false;
    SetIndicator(INDICATOR_DISCONNECTED);
}

void CMainWindow::Hide() { ShowWindow(m_hWnd, SW_HIDE); }

void CMainWindow::Show()
{
    ShowWindow(m_hWnd, SW_SHOW);
    SetForegroundWindow(m_hWnd);
}

void CMainWindow::Exit()
{
    // Out of sight at once: the shell may take its time over the icon (Wine's tray takes
    // seconds to let go of its last icon, and of the window that owned it).
    ShowWindow(m_hWnd, SW_HIDE);
    m_tray->Delete(m_hTray[0]);
    DestroyWindow(m_hWnd);
}

// The indicator follows the stream, it remembers nothing: the engine reports 1 or more while the
// stream's data flows, and 0 while its buffer is under 1% full and whenever its reader stops (a
// station that dropped, a reconnect pause, another player that took over). A report after the
// stop button is the stopping reader's last word and changes nothing.
void CMainWindow::OnBufferStateChanged()
{
    short fill = 0;
    if (FAILED(m_player.CallShort(DISPID_KEL_GETBUFFERSTATE, &fill)) || !m_bPlaying)
        return;
    m_state.connectShown = 1;
    SetIndicator(fill >= 1 ? INDICATOR_CONNECTED : INDICATOR_CONNECTING);
}

void CMainWindow::SetIndicator(EIndicator which)
{
    if (m_skin.Indicator() == which)
        return;
    m_skin.ShowIndicator(which);
    NotifyChanged(EVENT_OBJECT_NAMECHANGE, ACCESSIBLE_INDICATOR);
}

void CMainWindow::Tick()
{
    m_state.trayFrame = static_cast<short>((m_state.trayFrame + 1) % 3);
    m_tray->Modify(m_hTray[m_state.trayFrame]);
    m_recorder.OnTick();
    if (m_state.recording == 1) {
        m_skin.SetLampVisible(!m_skin.IsLampVisible());
        m_skin.SetBannerVisible(1, !m_skin.IsBannerVisible(1));
    }
}

void CMainWindow::OnRecorderChanged(int banner)
{
    // Banner 1 and the lamp alternate with the tick while recording; either ending hides the lamp.
    m_state.recording = m_recorder.IsRecording() ? 1 : 0;
    m_skin.SetLampVisible(false);
    Message(banner);
}

void CMainWindow::GetSong()
{
    // A fetch still executing keeps the label as it is.
    m_titleFetch->Start(TITLE_PAGE_URL);
}

// The label shows a few dozen characters: a title of megabytes is cut to what could ever show.
void CMainWindow::OnTitlePage()
{
    std::wstring page;
    if (!m_titleFetch->Take(&page))
        return; // a message that no fetch of ours sent
    std::wstring title = FindSongTitle(page);
    if (title.size() > LABEL_MAX_CHARS)
        title.resize(LABEL_MAX_CHARS);
    bool changed = title != m_skin.Label();
    m_skin.SetLabel(title);
    if (changed)
        NotifyChanged(EVENT_OBJECT_NAMECHANGE, ACCESSIBLE_TITLE);
}

// x in ramp pixels; whole pixels give 0 to 100 in steps of 5.
void CMainWindow::SetVolumeFromRamp(int x)
{
    if (x < 2)
        x = 2;
    if (x > 22)
        x = 22;
    SetVolume((x - 2) * 5);
}

void CMainWindow::SetVolume(int volume)
{
    if (volume < 0)
        volume = 0;
    if (volume > 100)
        volume = 100;
    m_nVolume = volume;
    m_nMutedFrom = -1;
    m_skin.SetKnob(volume / 5);
    m_player.PutShort(DISPID_KEL_VOLUME, static_cast<short>(volume));
    NotifyChanged(EVENT_OBJECT_VALUECHANGE, ACCESSIBLE_VOLUME);
}

void CMainWindow::TogglePlay()
{
    if (m_bPlaying)
        Stop();
    else
        Play();
}

void CMainWindow::ToggleMute()
{
    if (m_nMutedFrom >= 0) {
        SetVolume(m_nMutedFrom);
        return;
    }
    int from = m_nVolume;
    SetVolume(0);
    m_nMutedFrom = from;
}

namespace
{
// The skin speaks English (its tabs, indicator and banners): so do its names for screen readers.
const struct
{
    ERegion region;
    const wchar_t* name;
    LONG role;
} ACCESSIBLE_REGIONS[ACCESSIBLE_CHILD_COUNT + 1] = {
    {REGION_NONE, L"", 0},
    {REGION_CLOSE, L"Close", ROLE_SYSTEM_PUSHBUTTON},
    {REGION_MINIMISE, L"Hide", ROLE_SYSTEM_PUSHBUTTON},
    {REGION_DEMAND, L"Demand", ROLE_SYSTEM_PAGETAB},
    {REGION_RECORD, L"Record", ROLE_SYSTEM_PAGETAB},
    {REGION_LOGO, L"Pellora home page", ROLE_SYSTEM_LINK},
    {REGION_NONE, L"", ROLE_SYSTEM_STATICTEXT},
    {REGION_PLAY, L"Play", ROLE_SYSTEM_PUSHBUTTON},
    {REGION_STOP, L"Stop", ROLE_SYSTEM_PUSHBUTTON},
    {REGION_NONE, L"", ROLE_SYSTEM_STATICTEXT},
    {REGION_RAMP, L"Volume", ROLE_SYSTEM_SLIDER},
    {REGION_CREDIT, L"Maker's page", ROLE_SYSTEM_LINK},
};
const wchar_t* const INDICATOR_NAMES[] = {L"Disconnected", L"Connecting", L"Connected"};
} // namespace

void CMainWindow::DescribeChild(LONG child, CAccessibleItem* item)
{
    const auto& entry = ACCESSIBLE_REGIONS[child];
    item->role = entry.role;
    item->name = entry.name;
    item->place = m_skin.PlaceOf(entry.region);
    item->state = IsWindowVisible(m_hWnd) ? 0 : STATE_SYSTEM_INVISIBLE;
    switch (child) {
    case ACCESSIBLE_INDICATOR:
        item->name = INDICATOR_NAMES[m_skin.Indicator()];
        item->place = m_skin.IndicatorPlace();
        item->state |= STATE_SYSTEM_READONLY;
        break;
    case ACCESSIBLE_TITLE:
        item->name = L"Now playing: " + m_skin.Label();
        item->place = m_skin.LabelPlace();
        item->state |= STATE_SYSTEM_READONLY;
        break;
    case ACCESSIBLE_VOLUME: {
        // The level the control itself reports, as a listener's screen reader should hear it.
        short volume = static_cast<short>(m_nVolume);
        m_player.GetShort(DISPID_KEL_VOLUME, &volume);
        item->value = std::to_wstring(volume);
        item->state |= STATE_SYSTEM_FOCUSABLE;
        break;
    }
    case ACCESSIBLE_RECORD:
        if (m_recorder.IsRecording())
            item->state |= STATE_SYSTEM_SELECTED;
        item->action = L"Switch";
        break;
    case ACCESSIBLE_PLAY:
    case ACCESSIBLE_STOP:
    case ACCESSIBLE_CLOSE:
    case ACCESSIBLE_MINIMISE:
        item->action = L"Press";
        break;
    default:
        item->action = L"Jump";
        break;
    }
}

void CMainWindow::ActOnChild(LONG child)
{
    ERegion region = ACCESSIBLE_REGIONS[child].region;
    if (region != REGION_NONE && region != REGION_RAMP)
        OnClick(region);
}

void CMainWindow::NotifyChanged(DWORD event, LONG child) const
{
    if (m_hWnd != NULL)
        NotifyWinEvent(event, m_hWnd, OBJID_CLIENT, child);
}

// A key held down repeats only the volume's steps.
bool CMainWindow::OnKey(WPARAM key, bool repeat)
{
    switch (key) {
    case VK_UP:
    case VK_ADD:
    case VK_OEM_PLUS:
        return OnMediaCommand(APPCOMMAND_VOLUME_UP);
    case VK_DOWN:
    case VK_SUBTRACT:
    case VK_OEM_MINUS:
        return OnMediaCommand(APPCOMMAND_VOLUME_DOWN);
    default:
        break;
    }
    // The media keys reach the focused window as keys when no hot key took them.
    for (const auto& media : MEDIA_KEYS) {
        if (media.key != key)
            continue;
        bool step = media.command == APPCOMMAND_VOLUME_UP || media.command == APPCOMMAND_VOLUME_DOWN;
        return (repeat && !step) || OnMediaCommand(media.command);
    }
    if (repeat)
        return key == VK_SPACE || key == 'R' || key == VK_ESCAPE;
    switch (key) {
    case VK_SPACE:
        TogglePlay();
        return true;
    case 'R':
        m_recorder.Toggle();
        return true;
    case VK_ESCAPE:
        Hide();
        return true;
    default:
        return false;
    }
}

bool CMainWindow::OnMediaCommand(int command)
{
    // A step out of a mute starts from the level the mute left.
    int level = m_nMutedFrom >= 0 ? m_nMutedFrom : m_nVolume;
    switch (command) {
    case APPCOMMAND_MEDIA_PLAY_PAUSE:
        TogglePlay();
        return true;
    case APPCOMMAND_MEDIA_PLAY:
        if (!m_bPlaying)
            Play();
        return true;
    case APPCOMMAND_MEDIA_PAUSE:
    case APPCOMMAND_MEDIA_STOP:
        if (m_bPlaying)
            Stop();
        return true;
    case APPCOMMAND_VOLUME_UP:
        SetVolume(level + VOLUME_STEP);
        return true;
    case APPCOMMAND_VOLUME_DOWN:
        SetVolume(level - VOLUME_STEP);
        return true;
    case APPCOMMAND_VOLUME_MUTE:
        ToggleMute();
        return true;
    default:
        return false;
    }
}

// A key another program holds already stays its own; the shell's WM_APPCOMMAND still serves then.
void CMainWindow::RegisterMediaKeys()
{
    for (int i = 0; i < MEDIA_KEY_COUNT; ++i)
        if (RegisterHotKey(m_hWnd, i, 0, MEDIA_KEYS[i].key))
            m_hotKeys |= 1u << i;
}

void CMainWindow::Message(int banner)
{
    for (int i = 0; i < BANNER_COUNT; ++i)
        m_skin.SetBannerVisible(i, false);
    m_skin.SetBannerVisible(banner, true);
}

// The page opens through the shell's browser, minimised and activated; nobody waits for it.
void CMainWindow::OpenPage(const std::wstring& commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINIMIZED;
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine; // CreateProcessW may write into its command line
    if (CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void CMainWindow::OnPress(ERegion region, UINT button, POINT point)
{
    switch (region) {
    case REGION_CLOSE:
    case REGION_MINIMISE:
        m_skin.SetBoxPressed(region, true);
        break;
    case REGION_TITLE:
        if (button == WM_LBUTTONDOWN) {
            m_state.dragOrigin[0] = static_cast<float>(point.x);
            m_state.dragOrigin[1] = static_cast<float>(point.y);
        }
        break;
    case REGION_RAMP:
        SetVolumeFromRamp(m_skin.ToSkin(point).x - RAMP_LEFT);
        break;
    default:
        break;
    }
}

void CMainWindow::OnMove(ERegion region, WPARAM buttons, POINT point, LPARAM lParam)
{
    const WPARAM anyButton = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;
    switch (region) {
    case REGION_CLOSE:
    case REGION_MINIMISE:
        if ((buttons & anyButton) == 0)
            m_skin.SetBoxPressed(region, false);
        break;
    case REGION_TITLE:
        m_skin.SetBoxPressed(REGION_CLOSE, false);
        m_skin.SetBoxPressed(REGION_MINIMISE, false);
        if ((buttons & anyButton) == MK_LBUTTON) {
            // The grabbed point stays under the pointer; the origin moves with the window.
            RECT window;
            GetWindowRect(m_hWnd, &window);
            SetWindowPos(m_hWnd, NULL, window.left + point.x - static_cast<int>(m_state.dragOrigin[0]),
                         window.top + point.y - static_cast<int>(m_state.dragOrigin[1]), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case REGION_RAMP:
        if ((buttons & anyButton) == MK_LBUTTON)
            SetVolumeFromRamp(m_skin.ToSkin(point).x - RAMP_LEFT);
        break;
    case REGION_NONE:
        // The bare skin, and the tray icon's reports, which come as this same message.
        m_skin.SetBoxPressed(REGION_CLOSE, false);
        m_skin.SetBoxPressed(REGION_MINIMISE, false);
        if (lParam == WM_LBUTTONDBLCLK)
            Show();
        break;
    default:
        break;
    }
}

void CMainWindow::OnClick(ERegion region)
{
    switch (region) {
    case REGION_CLOSE:
        Exit();
        break;
    case REGION_MINIMISE:
        Hide();
        break;
    case REGION_PLAY:
        Play();
        break;
    case REGION_STOP:
        Stop();
        break;
    case REGION_RECORD:
        m_recorder.Toggle();
        break;
    case REGION_DEMAND:
        OpenPage(L"explorer \"" REQUEST_PAGE_URL L"\"");
        Message(0);
        break;
    case REGION_LOGO:
        Hide();
        OpenPage(L"explorer \"" HOME_PAGE_URL L"\"");
        break;
    case REGION_CREDIT:
        OpenPage(L"explorer " MAKER_URL);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK CMainWindow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        CMainWindow* self = static_cast<CMainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->m_hWnd = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    CMainWindow* self = reinterpret_cast<CMainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == NULL)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    return self->HandleMessage(msg, wParam, lParam);
}

LRESULT CMainWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    // A shell that starts again (after a crash, or another user's) has forgotten every icon.
    static const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    if (msg == taskbarCreated && taskbarCreated != 0) {
        if (m_tray)
            m_tray->Add(m_hTray[m_state.trayFrame]);
        return 0;
    }
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(m_hWnd, &ps);
        m_skin.Paint(dc);
        EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // the paint covers every pixel
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            POINT at;
            GetCursorPos(&at);
            ScreenToClient(m_hWnd, &at);
            SetCursor(CSkin::IsHandRegion(m_skin.HitTest(at)) ? m_hHand : LoadCursor(NULL, IDC_ARROW));
            return TRUE;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // The pressed region keeps the mouse until the buttons are up, also off its area.
        if (m_pressed == REGION_NONE) {
            m_pressed = m_skin.HitTest(point);
            SetCapture(m_hWnd);
        }
        OnPress(m_pressed, msg, point);
        return 0;
    case WM_MOUSEMOVE:
        OnMove(m_pressed != REGION_NONE && GetCapture() == m_hWnd ? m_pressed : m_skin.HitTest(point), wParam, point,
               lParam);
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        ERegion pressed = m_pressed;
        if ((wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
            m_pressed = REGION_NONE;
            ReleaseCapture();
        }
        // A click: the left button goes up over the region where it went down.
        if (msg == WM_LBUTTONUP && pressed != REGION_NONE && m_skin.HitTest(point) == pressed)
            OnClick(pressed);
        return 0;
    }
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != m_hWnd)
            m_pressed = REGION_NONE;
        return 0;
    case WM_TIMER:
        if (wParam == TIMER_TICK)
            Tick();
        else if (wParam == TIMER_TITLE)
            GetSong();
        return 0;
    case WM_KEYDOWN:
        if (!OnKey(wParam, (lParam & (1 << 30)) != 0))
            break;
        // The cue shows only once the keyboard has been used, as the system's own cues do.
        m_bKeyboardUsed = true;
        m_skin.SetFocusCue(GetFocus() == m_hWnd);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        m_skin.SetFocusCue(m_bKeyboardUsed && msg == WM_SETFOCUS);
        break;
    case WM_APPCOMMAND:
        if (OnMediaCommand(GET_APPCOMMAND_LPARAM(lParam)))
            return TRUE;
        break;
    case WM_HOTKEY:
        if (wParam < static_cast<WPARAM>(MEDIA_KEY_COUNT))
            OnMediaCommand(MEDIA_KEYS[wParam].command);
        return 0;
    case WM_DPICHANGED: {
        // The system's suggestion keeps the window where it was on the new monitor; the size is the skin's.
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        m_skin.SetDpi(HIWORD(wParam));
        SIZE size = m_skin.Size();
        SetWindowPos(m_hWnd, NULL, suggested->left, suggested->top, size.cx, size.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_GETOBJECT:
        // Only the client area is ours; the system answers for the frame and the rest.
        if (static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT)) {
            if (m_pAccessible == NULL)
                m_pAccessible = new CWindowAccessible(
                    m_hWnd, [this](LONG child, CAccessibleItem* item) { DescribeChild(child, item); },
                    [this](LONG child) { ActOnChild(child); });
            return LresultFromObject(__uuidof(IAccessible), wParam, m_pAccessible);
        }
        break;
    case WM_PELRADIO_TITLE:
        OnTitlePage();
        return 0;
    case WM_PELRADIO_SOCKET:
        m_recorder.OnSocketEvent(wParam, lParam);
        return 0;
    case WM_PELRADIO_LOOKUP:
        m_recorder.OnLookup(wParam, lParam);
        return 0;
    case WM_PELRADIO_HLS_AUDIO:
        m_recorder.OnHlsAudio(wParam, lParam);
        return 0;
    case WM_PELRADIO_HLS_ENDED:
        m_recorder.OnHlsEnded(wParam);
        return 0;
    case WM_SYSCOMMAND:
        // The system's own close command ends the program like the close box, icon first.
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            Exit();
            return 0;
        }
        break;
    case WM_CLOSE:
        Exit();
        return 0;
    case WM_DESTROY:
        for (int i = 0; i < MEDIA_KEY_COUNT; ++i)
            if (m_hotKeys & (1u << i))
                UnregisterHotKey(m_hWnd, i);
        m_hotKeys = 0;
        if (m_pAccessible != NULL) {
            m_pAccessible->Disconnect();
            m_pAccessible->Release();
            m_pAccessible = NULL;
        }
        KillTimer(m_hWnd, TIMER_TICK);
        KillTimer(m_hWnd, TIMER_TITLE);
        m_player.Destroy();
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        m_hWnd = NULL;
        break;
    default:
        break;
    }
    return DefWindowProcA(m_hWnd, msg, wParam, lParam);
}
