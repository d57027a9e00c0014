// Wave-out output: the decoder writes PCM straight into the device's blocks.
#include "audio/WaveOut.h"

#include "engine/report/StatusText.h"

CWaveOut::CWaveOut(CWaveOutApi* api)
    : m_hWnd(NULL), m_hEvent(NULL), m_bOpen(0), m_pBlocks(NULL), m_hDevice(NULL), m_pSource(NULL),
      m_pApi(api != NULL ? api : CWaveOutApi::System())
{
    ZeroMemory(&m_format, sizeof(m_format));
    ZeroMemory(m_headers, sizeof(m_headers));
}

CWaveOut::~CWaveOut()
{
    Close();
}

int CWaveOut::Open(CAudioDecoder* source, HWND window)
{
    if (m_hDevice != NULL)
        Close();
    m_pSource = source;
    m_hWnd = window;

    m_hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    m_pBlocks = static_cast<char*>(
        VirtualAlloc(NULL, WAVEOUT_BLOCKS * WAVEOUT_BLOCK_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.nChannels = 2;
    m_format.nSamplesPerSec = source->m_nSampleRate;
    m_format.wBitsPerSample = 16;
    m_format.nBlockAlign = 4;
    m_format.nAvgBytesPerSec = source->m_nSampleRate * 4;
    m_format.cbSize = 0;

    if (m_hEvent == NULL || m_pBlocks == NULL ||
        m_pApi->Open(&m_hDevice, WAVE_MAPPER, &m_format, reinterpret_cast<DWORD_PTR>(m_hEvent), 0, CALLBACK_EVENT) !=
            MMSYSERR_NOERROR) {
        m_hDevice = NULL;
        ReleaseStorage();
        ReportStatusText(window, TEXT_NO_SOUND_OUTPUT, 1);
        return 0;
    }

    for (int i = 0; i < WAVEOUT_BLOCKS; ++i) {
        ZeroMemory(&m_headers[i], sizeof(WAVEHDR));
        m_headers[i].lpData = m_pBlocks + i * WAVEOUT_BLOCK_SIZE;
        m_headers[i].dwBufferLength = WAVEOUT_BLOCK_SIZE;
    }
    for (int i = 0; i < WAVEOUT_BLOCKS; ++i) {
        if (m_pApi->Prepare(m_hDevice, &m_headers[i]) != MMSYSERR_NOERROR) {
            // A device that cannot take its blocks would stall silently with the stream open:
            // end the stream instead, so that the owner moves on.
            for (int j = 0; j < i; ++j)
                m_pApi->Unprepare(m_hDevice, &m_headers[j]);
            m_pApi->Close(m_hDevice);
            m_hDevice = NULL;
            ReleaseStorage();
            ReportStatusText(window, TEXT_SOUND_OUTPUT_FAILED, 1);
            source->Close();
            return 0;
        }
    }
    // Decoding happens in Refill on this thread: it must not fall behind the device.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    m_bOpen = 1;
    return 1;
}

bool CWaveOut::SetVolume(DWORD raw)
{
    return m_hDevice != NULL && m_pApi->SetVolume(m_hDevice, raw) == MMSYSERR_NOERROR;
}

EReadResult CWaveOut::Refill()
{
    if (m_hDevice == NULL)
        return READ_FILLED;
    // Blocks are filled and queued in one pass from a sequential source, so the device plays
    // the PCM in order whatever the index order of the free blocks.
    for (int i = 0; i < WAVEOUT_BLOCKS; ++i) {
        WAVEHDR* header = &m_headers[i];
        if (header->dwFlags & WHDR_INQUEUE)
            continue;
        unsigned length = WAVEOUT_BLOCK_SIZE;
        EReadResult result = m_pSource->Read(header->lpData, &length);
        header->dwBufferLength = length;
        if (length > 0 && m_pApi->Write(m_hDevice, header) != MMSYSERR_NOERROR) {
            ReportStatusText(m_hWnd, TEXT_SOUND_OUTPUT_FAILED, 1);
            result = READ_ENDED;
        }
        if (result == READ_ENDED)
            m_pSource->Close();
        if (result != READ_FILLED)
            return result;
    }
    return READ_FILLED;
}

int CWaveOut::IsIdle() const
{
    if (m_hDevice == NULL)
        return 1;
    for (int i = 0; i < WAVEOUT_BLOCKS; ++i)
        if (m_headers[i].dwFlags & WHDR_INQUEUE)
            return 0;
    return 1;
}

void CWaveOut::Close()
{
    if (m_hDevice == NULL)
        return;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    m_pApi->Reset(m_hDevice);
    for (int i = 0; i < WAVEOUT_BLOCKS; ++i) {
        m_headers[i].dwBufferLength = WAVEOUT_BLOCK_SIZE;
        m_pApi->Unprepare(m_hDevice, &m_headers[i]);
    }
    ReleaseStorage();
    m_pApi->Close(m_hDevice);
    m_hDevice = NULL;
    m_bOpen = 0;
}

void CWaveOut::ReleaseStorage()
{
    if (m_hEvent != NULL) {
        CloseHandle(m_hEvent);
        m_hEvent = NULL;
    }
    if (m_pBlocks != NULL) {
        VirtualFree(m_pBlocks, 0, MEM_RELEASE);
        m_pBlocks = NULL;
    }
}
