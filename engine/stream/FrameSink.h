// Where the HLS reader puts a station's audio: the player's ring, or the recorder's file.
#pragma once

#include <windows.h>

#include <string>

// Called on the HLS reader's thread only; each returns one of the reader's RUN_ outcomes
// (ReaderOutcome.h) where it returns one.
class CFrameSink
{
public:
    virtual ~CFrameSink() {}

    // Set once the sink's owner closes it: the reader's waits and fetches end on it at once.
    virtual HANDLE CloseEvent() const = 0;
    virtual bool IsClosed() const = 0;
    // Waits until the sink wants the next segment's audio: RUN_GOES_ON, or RUN_CLOSED.
    virtual int WaitForRoom() = 0;
    // Whole frames of one kind. splice: they do not follow on from the audio before them (a
    // discontinuity or a segment passed over). RUN_GOES_ON once all are taken, or RUN_CLOSED.
    virtual int Take(const std::string& audio, bool splice) = 0;
    // The station's list has ended and its last audio is taken: waits while that is used up.
    // RUN_SERVER_ENDED, or RUN_CLOSED.
    virtual int Drain() = 0;
    // The station's name, then each new title.
    virtual void Title(const std::string& title) = 0;
    // A status text for the listener, with its level.
    virtual void Status(const char* text, int level) = 0;
};
