// A player worker for the benchmarks, timing each stage of a play on the clock Linux tools share.
#pragma once

#include <windows.h>

#include <set>

#include "engine/stream/HttpStream.h"
#include "engine/decode/StreamDecoder.h"
#include "engine/worker/PlayerHost.h"

// Wall-clock seconds since 1970 (Wine reads the host's clock), so that figures taken by
// tools outside the process line up with these.
double EpochSeconds();

// Seconds of CPU a thread or the process has used.
double ThreadCpuSeconds(HANDLE thread);
double ProcessCpuSeconds();

// The ids of the process's threads at this moment.
std::set<DWORD> ThreadIds();

// Stage times of one play, in EpochSeconds; 0 until the stage is reached. Each is written by
// the thread named beside it and read by the main thread after that stage's event is set.
struct CPlayTimes
{
    double openStart;     // worker: the decoder's Open begins
    double prebuffered;   // worker: the stream's Open (connect, header, 32 KiB) has returned
    double probed;        // worker: the decoder's Open (probe included) has returned
    double firstRead;     // worker: the first Read of the device's first refill begins
    double firstBlock;    // worker: that Read has filled the first block, written right after
    double started;       // main (window): WM_PLAYER_STARTED arrived
    double closed;        // main (window): WM_PLAYER_CLOSED arrived
    double stopAsked;     // main (window): the worker asked its host to stop (takeover)
};

// The stream: times its Open and notes the reader thread it starts.
class CTimedStream : public CHttpStream
{
public:
    explicit CTimedStream(CPlayTimes* times) : m_pTimes(times) {}
    EOpenOutcome Open(HWND notifyWnd, const char* url) override;

    // Written by the worker in Open, read by the main thread while the stream plays.
    DWORD m_readerId = 0;

private:
    CPlayTimes* m_pTimes;
};

class CTimedDecoder : public CStreamDecoder
{
public:
    CTimedDecoder(CPlayTimes* times, HANDLE firstBlock) : m_pTimes(times), m_hFirstBlock(firstBlock) {}
    EOpenOutcome Open(HWND window, const char* url) override;
    EReadResult Read(void* buffer, unsigned* length) override;

    // Written by the worker when it creates a stream, read by the main thread while it plays.
    CTimedStream* volatile m_pStream = NULL;

protected:
    CInputStream* CreateStream() override;

private:
    CPlayTimes* m_pTimes;
    HANDLE m_hFirstBlock; // set by the worker once the first block is filled
    bool m_bFirstDone = true; // worker only
};

// One control's stand-in: a message-only window for the worker's reports and the worker thread.
// The window reacts to a takeover as the control does: it sends the stop command back.
class CBenchPlayer : public CPlayerHost
{
public:
    CBenchPlayer();
    ~CBenchPlayer() override;
    HWND GetPlayerWindow() const override { return m_hWnd; }
    HANDLE GetStartEvent() const override { return m_hStart; }

    // Resets the times and posts a play command; returns its time.
    double Play(const char* url);
    double Stop();
    // Pumps the main thread's messages until the event is set or the time runs out.
    static bool Wait(HANDLE event, DWORD milliseconds);
    static void Pump(DWORD milliseconds);

    CPlayTimes m_times;
    HANDLE m_hFirstBlock; // set by the worker, waited on by the main thread
    HANDLE m_hClosed;     // set by the window (main thread) on WM_PLAYER_CLOSED
    HANDLE m_hWorker;
    DWORD m_workerId;
    CTimedDecoder* m_pDecoder; // owned by the worker

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static unsigned __stdcall WorkerProc(void* self);

    HWND m_hWnd;
    HANDLE m_hStart;
};
