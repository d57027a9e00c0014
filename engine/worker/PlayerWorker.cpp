// Player worker: the command batch, the refill loop and the single-active-player rule.
#include "engine/worker/PlayerWorker.h"

#include "audio/DeviceVolume.h"
#include "engine/stream/HttpStream.h"
#include "engine/decode/StreamDecoder.h"
#include "engine/worker/PlayerHost.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/StatusText.h"

namespace
{
const DWORD DEVICE_WAIT_MS = 1000;
const DWORD DRAIN_WAIT_MS = 100;
// Eight blocks last at most 1.5 s (at 22050 Hz); a device still holding them after this
// never returns them and is reset.
const DWORD DRAIN_LIMIT_MS = 2000;
} // namespace

CPlayerWorker::CPlayerWorker(CPlayerHost* host, CStreamDecoder* decoder, CWaveOutApi* waveOutApi)
    : m_pHost(host), m_pDecoder(decoder), m_waveOut(waveOutApi), m_bQuit(false), m_dwTaken(0), m_bDraining(false),
      m_dwDrainStart(0), m_hShared(NULL), m_pActivePlayer(NULL)
{
}

CPlayerWorker::~CPlayerWorker()
{
    if (m_pActivePlayer != NULL)
        UnmapViewOfFile(const_cast<DWORD*>(m_pActivePlayer));
    if (m_hShared != NULL)
        CloseHandle(m_hShared);
    m_waveOut.Close();
    delete m_pDecoder;
}

void CPlayerWorker::Report(UINT message)
{
    PostPlayerMessage(m_pHost->GetPlayerWindow(), message, 0, 0);
}

// The stream's reader has been joined, so its last reports are queued ahead of this one.
void CPlayerWorker::ReportTaken()
{
    PostPlayerMessage(m_pHost->GetPlayerWindow(), WM_PLAYER_TAKEN, m_dwTaken, 0);
}

unsigned CPlayerWorker::Run()
{
    // The queue must exist before the host may post its first command.
    MSG msg;
    PeekMessageA(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(m_pHost->GetStartEvent());

    // Every player of the desktop shares one word: the worker that last accepted a play.
    // Without it this worker simply plays on its own.
    m_hShared = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(DWORD), PLAYER_SHARED_MEMORY);
    if (m_hShared != NULL)
        m_pActivePlayer = static_cast<volatile DWORD*>(MapViewOfFile(m_hShared, FILE_MAP_ALL_ACCESS, 0, 0, 0));

    bool lookAtQueue = true;
    for (;;) {
        if (lookAtQueue)
            HandleBatch();
        lookAtQueue = true;
        if (m_bQuit)
            break;
        if (!m_waveOut.IsOpen()) {
            WaitMessage();
            continue;
        }
        if (m_pActivePlayer != NULL && *m_pActivePlayer != GetCurrentThreadId())
            Report(WM_PLAYER_STOP); // repeated each pass until the stop command comes back

        HANDLE device = m_waveOut.GetEvent();
        if (m_pDecoder->m_bOpen) {
            // A command ends the wait too (its sender sets the command event after posting it), so
            // stop and play do not wait for the device, and a pass that the device alone woke leaves
            // the queue alone. Under Wine a wait that posted messages end costs a request more
            // (the queue's mask is set anew each time), once per block.
            HANDLE wake[2] = {device, m_pHost->GetCommandEvent()};
            if (WaitForMultipleObjects(2, wake, FALSE, DEVICE_WAIT_MS) == WAIT_OBJECT_0) {
                EReadResult result = m_waveOut.Refill();
                if (result == READ_FORMAT_CHANGED)
                    Reopen();
                // A refill given up for a waiting command is no end of the stream.
                else if (result == READ_ENDED && !IsNewerCommandWaiting())
                    Report(WM_PLAYER_ENDED);
                lookAtQueue = result != READ_FILLED;
            }
        } else {
            if (!m_bDraining) {
                m_bDraining = true;
                m_dwDrainStart = GetTickCount();
            }
            if (m_waveOut.IsIdle() || GetTickCount() - m_dwDrainStart >= DRAIN_LIMIT_MS)
                CloseDevice();
            else // the device signals as each block comes back
                MsgWaitForMultipleObjects(1, &device, FALSE, DRAIN_WAIT_MS, QS_ALLPOSTMESSAGE);
        }
    }
    return 0;
}

void CPlayerWorker::HandleBatch()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        switch (msg.message) {
        case WM_PLAYER_QUIT:
            m_bQuit = true;
            break;
        case WM_PLAYER_PLAY: {
            char* url = reinterpret_cast<char*>(msg.wParam);
            ++m_dwTaken;
            MSG later;
            // Only the last of several queued plays is carried out.
            if (!PeekMessageA(&later, NULL, WM_PLAYER_PLAY, WM_PLAYER_PLAY, PM_NOREMOVE))
                Play(url, msg.lParam);
            delete[] url;
            break;
        }
        case WM_PLAYER_STOP:
            ++m_dwTaken;
            Stop();
            break;
        case WM_PLAYER_VOLUME:
            ApplyVolume();
            break;
        default:
            break;
        }
    }
}

void CPlayerWorker::Play(const char* url, LPARAM flags)
{
    // A stop or quit right behind this play: the old audio is not wanted any more.
    if (m_waveOut.IsOpen() && IsStopCommandWaiting())
        CloseDevice();
    m_pDecoder->Close();
    ReportTaken();
    m_pDecoder->SetPublicOnly((flags & PLAYER_PLAY_PUBLIC_ONLY) != 0);
    EOpenOutcome outcome = m_pDecoder->Open(m_pHost->GetPlayerWindow(), url);
    // The previous stream's queued audio has played out while the new one connected, unless
    // a newer command cut the connecting short.
    if (m_waveOut.IsOpen()) {
        if (!IsNewerCommandWaiting())
            Drain();
        CloseDevice();
    }
    switch (outcome) {
    case OPEN_OK:
        OpenDevice();
        break;
    case OPEN_FAILED:
        ReportStatusText(m_pHost->GetPlayerWindow(), TEXT_BAD_STATION, 1);
        Report(WM_PLAYER_ENDED);
        break;
    case OPEN_FAILED_TOLD:
        // A refused address has had its one text (nothing more may tell the page about it), and
        // a playlist answer is no failure at all.
        Report(WM_PLAYER_ENDED);
        break;
    case OPEN_CANCELLED: // not failed: the newer command follows at once
        break;
    }
    if (m_pActivePlayer != NULL)
        *m_pActivePlayer = GetCurrentThreadId();
}

// Only this thread touches the device; the host only stores the value and posts WM_PLAYER_VOLUME.
void CPlayerWorker::ApplyVolume()
{
    const CDeviceVolume* volume = m_pHost->GetDeviceVolume();
    DWORD raw = 0;
    if (volume != NULL && volume->Query(&raw))
        m_waveOut.SetVolume(raw);
}

void CPlayerWorker::Drain()
{
    DWORD start = GetTickCount();
    HANDLE device = m_waveOut.GetEvent();
    while (!m_waveOut.IsIdle() && GetTickCount() - start < DRAIN_LIMIT_MS && !IsNewerCommandWaiting())
        MsgWaitForMultipleObjects(1, &device, FALSE, DRAIN_WAIT_MS, QS_ALLPOSTMESSAGE);
}

void CPlayerWorker::OpenDevice()
{
    if (m_waveOut.Open(m_pDecoder, m_pHost->GetPlayerWindow())) {
        // Each device starts at the host's volume, before its first block.
        ApplyVolume();
        Report(WM_PLAYER_STARTED);
    } else if (!m_pDecoder->m_bOpen) {
        // The device opened but refused its blocks and ended the stream (it has reported its text).
        Report(WM_PLAYER_ENDED);
    }
}

void CPlayerWorker::Reopen()
{
    Drain();
    if (IsNewerCommandWaiting())
        return; // a stop or another station: the device is not wanted at any rate
    CloseDevice();
    OpenDevice();
}

// Stops the device at once (queued blocks come back unplayed) and reports it closed.
void CPlayerWorker::CloseDevice()
{
    m_waveOut.Close();
    m_bDraining = false;
    Report(WM_PLAYER_CLOSED);
}

void CPlayerWorker::Stop()
{
    // The device first: its queued audio stops before the reader is joined.
    m_waveOut.Close();
    m_bDraining = false;
    m_pDecoder->Close();
    ReportTaken();
    Report(WM_PLAYER_CLOSED);
}

unsigned __stdcall PlayerThreadProc(void* host)
{
    CPlayerWorker worker(static_cast<CPlayerHost*>(host), new CStreamDecoder);
    return worker.Run();
}
