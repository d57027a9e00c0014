// Tone source: exact sample counts, so the tests know how much audio a stream holds.
#include "ToneDecoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/stream/HttpStream.h"

namespace
{
std::mutex g_lock;
std::vector<std::string> g_opened;
} // namespace

std::vector<std::string> CToneDecoder::Opened()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_opened;
}

void CToneDecoder::ForgetOpened()
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_opened.clear();
}

EOpenOutcome CToneDecoder::Open(HWND window, const char* url)
{
    Close();
    m_hWnd = window;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_opened.push_back(url);
    }
    unsigned rate = 44100, ms = 60000, nextMs = 0;
    double left = 440, right = 660;
    m_stall = false;
    m_nextRate = 0;
    if (strncmp(url, "fail:", 5) == 0)
        return OPEN_FAILED;
    if (strncmp(url, "stall:", 6) == 0) {
        m_stall = true;
    } else if (strncmp(url, "slowopen:", 9) == 0) {
        Sleep(atoi(url + 9));
    } else if (sscanf(url, "tones:%u:%lf:%u:%u:%lf:%u", &rate, &left, &ms, &m_nextRate, &m_next, &nextMs) == 6) {
        right = left;
        m_nextFrames = static_cast<unsigned>(static_cast<unsigned long long>(m_nextRate) * nextMs / 1000);
    } else if (sscanf(url, "tone:%u:%lf:%lf:%u", &rate, &left, &right, &ms) != 4) {
        return OPEN_FAILED;
    }
    m_nSampleRate = rate;
    m_left = left;
    m_right = right;
    m_framesLeft = static_cast<unsigned>(static_cast<unsigned long long>(rate) * ms / 1000);
    m_position = 0;
    m_bOpen = 1;
    return OPEN_OK;
}

void CToneDecoder::Close()
{
    m_bOpen = 0;
}

EReadResult CToneDecoder::Read(void* buffer, unsigned* length)
{
    if (m_stall) {
        while (!IsNewerCommandWaiting())
            Sleep(100);
        *length = 0;
        return READ_ENDED;
    }
    unsigned frames = *length / 4;
    short* out = static_cast<short*>(buffer);
    unsigned n = frames < m_framesLeft ? frames : m_framesLeft;
    const double twoPi = 6.283185307179586;
    for (unsigned i = 0; i < n; ++i, ++m_position) {
        out[2 * i] = static_cast<short>(12000 * std::sin(twoPi * m_left * m_position / m_nSampleRate));
        out[2 * i + 1] = static_cast<short>(12000 * std::sin(twoPi * m_right * m_position / m_nSampleRate));
    }
    m_framesLeft -= n;
    *length = n * 4;
    if (n == frames)
        return READ_FILLED;
    if (m_nextRate == 0)
        return READ_ENDED;
    // The first tone is out: the second starts at its own rate with the next read.
    m_nSampleRate = m_nextRate;
    m_left = m_right = m_next;
    m_framesLeft = m_nextFrames;
    m_position = 0;
    m_nextRate = 0;
    return READ_FORMAT_CHANGED;
}
