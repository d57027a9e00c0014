// The schedule of a live HLS window: which segments to fetch, in order and once each, when to reload, when it has ended.
#pragma once

#include <deque>

#include "engine/hls/HlsPlaylist.h"

// A target duration outside these bounds is taken as the nearest of them: a list must neither
// be reloaded many times a second nor wait for hours.
#define HLS_TARGET_MIN_MS 1000
#define HLS_TARGET_MAX_MS 30000
// Playing starts this many target durations behind the live edge.
#define HLS_START_TARGETS 3
// A list that has not changed for this many target durations has stopped.
#define HLS_STALL_TARGETS 3

class CHlsWindow
{
public:
    CHlsWindow();

    // Takes the media list as loaded at nowMs (a millisecond tick). The first load starts three
    // target durations from its live edge (or at its start when it has already ended); later
    // ones add the segments after the last one taken, by media sequence number. A segment that
    // has slid out of the window before it was fetched is passed over.
    void Update(const CHlsPlaylist& list, unsigned nowMs);
    // A reload that failed counts as one that brought nothing new.
    void Unchanged(unsigned nowMs);
    // The next segment to fetch, each once, in order; false when none waits.
    bool Next(CHlsSegment* segment);
    // How long after nowMs the list is to be loaded again: a target duration after a load that
    // changed it, half of one after a load that did not, counted from that load.
    unsigned ReloadDelayMs(unsigned nowMs) const;
    // The list has ended and every segment of it has been handed out.
    bool HasEnded() const { return m_ended && m_queue.empty(); }
    // Loads have brought nothing new for HLS_STALL_TARGETS target durations. Only loads tell: time
    // spent on a slow segment, with no reload, says nothing of the list.
    bool HasStalled() const;
    unsigned TargetMs() const { return m_targetMs; }

private:
    bool m_loaded;
    bool m_ended;
    bool m_lastChanged;               // the last load brought new segments
    unsigned m_targetMs;
    unsigned m_loadedAt;              // when the last load was taken
    unsigned m_changedAt;             // when a load last brought something new
    unsigned long long m_nextSequence; // the first sequence number not yet queued
    std::deque<CHlsSegment> m_queue;
};
