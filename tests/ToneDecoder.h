// A PCM source for output and worker tests: a sine tone per channel, described by its address.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/decode/AudioDecoder.h"

// Addresses: "tone:<rate>:<left Hz>:<right Hz>:<milliseconds>", "fail:" (the open fails),
// "slowopen:<ms>" (a 44100 Hz tone whose open takes ms), "stall:" (opens, then every read
// waits for data that never comes, giving up like the network stream when a stop waits).
class CToneDecoder : public CAudioDecoder
{
public:
    int Open(HWND window, const char* url) override;
    void Close() override;
    int Read(void* buffer, unsigned* length) override;

    // Every address opened by any tone decoder of the process, in order.
    static std::vector<std::string> Opened();
    static void ForgetOpened();

private:
    double m_left = 0, m_right = 0;
    unsigned m_framesLeft = 0;
    unsigned m_position = 0;
    bool m_stall = false;
};
