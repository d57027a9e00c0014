// The recorder's HLS source: a station cut into segments, recorded as the frames it plays.
#include "RecorderHls.h"

#include <process.h>

#include "engine/stream/HlsReader.h"
#include "engine/stream/ReaderOutcome.h"

CRecorderHls::CRecorderHls(HWND window, UINT audioMessage, UINT endedMessage, unsigned run)
    : m_hWnd(window), m_uAudioMessage(audioMessage), m_uEndedMessage(endedMessage), m_run(run),
      m_hClose(CreateEventA(NULL, TRUE, FALSE, NULL)), m_socket(NULL, m_hClose.Get())
{
}

CRecorderHls::~CRecorderHls()
{
    if (m_hClose.Get() != NULL)
        SetEvent(m_hClose.Get());
    if (m_hThread.Get() != NULL)
        WaitForSingleObject(m_hThread.Get(), INFINITE);
}

bool CRecorderHls::Start(const std::string& text, const std::string& address)
{
    if (m_hClose.Get() == NULL)
        return false;
    m_text = text;
    m_address = address;
    m_hThread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, ThreadProc, this, 0, NULL)));
    return m_hThread.Get() != NULL;
}

unsigned __stdcall CRecorderHls::ThreadProc(void* arg)
{
    CRecorderHls* self = static_cast<CRecorderHls*>(arg);
    CHlsReader reader(self, &self->m_socket);
    reader.Run(self->m_text, self->m_address);
    PostMessageA(self->m_hWnd, self->m_uEndedMessage, self->m_run, 0);
    return 0;
}

bool CRecorderHls::IsClosed() const { return WaitForSingleObject(m_hClose.Get(), 0) == WAIT_OBJECT_0; }

int CRecorderHls::WaitForRoom() { return IsClosed() ? RUN_CLOSED : RUN_GOES_ON; }

int CRecorderHls::Take(const std::string& audio, bool splice)
{
    if (IsClosed())
        return RUN_CLOSED;
    std::string* copy = new std::string(audio);
    if (splice)
        m_silencer.Splice();
    m_silencer.Pass(copy);
    if (!PostMessageA(m_hWnd, m_uAudioMessage, m_run, reinterpret_cast<LPARAM>(copy)))
        delete copy;
    return RUN_GOES_ON;
}

// Nothing waits to be played out: what was taken is already on its way to the file.
int CRecorderHls::Drain() { return IsClosed() ? RUN_CLOSED : RUN_SERVER_ENDED; }
