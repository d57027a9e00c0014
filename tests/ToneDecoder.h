// A PCM source for output and worker tests: a sine tone per channel, described by its address.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/decode/StreamDecoder.h"

// Addresses: "tone:<rate>:<left Hz>:<right Hz>:<milliseconds>", "fail:" (the open fails),
// "slowopen:<ms>" (a 44100 Hz tone whose open takes ms), "stall:" (opens, then every read
// waits for data that never comes, giving up like the network stream when a stop waits),
// "tones:<rate>:<Hz>:<ms>:<rate>:<Hz>:<ms>" (a tone, then another at another rate).
class CToneDecoder : public CStreamDecoder
{
public:
    EOpenOutcome Open(HWND window, const char* url) override;
    void Close() override;
    EReadResult Read(void* buffer, unsigned* length) override;

    // Every address opened by any tone decoder of the process, in order.
    static std::vector<std::string> Opened();
    static void ForgetOpened();

private:
    double m_left = 0, m_right = 0;
    unsigned m_framesLeft = 0;
    unsigned m_position = 0;
    bool m_stall = false;
    // The second tone of "tones:", played once the first is out.
    unsigned m_nextRate = 0;
    double m_next = 0;
    unsigned m_nextFrames = 0;
};
