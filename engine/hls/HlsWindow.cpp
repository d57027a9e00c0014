// Live window bookkeeping: the start behind the live edge, the media sequence followed, reload times and the stall.
#include "engine/hls/HlsWindow.h"

CHlsWindow::CHlsWindow()
    : m_loaded(false), m_ended(false), m_lastChanged(false), m_targetMs(HLS_TARGET_MIN_MS), m_loadedAt(0), m_changedAt(0),
      m_nextSequence(0)
{
}

void CHlsWindow::Update(const CHlsPlaylist& list, unsigned nowMs)
{
    unsigned target = list.TargetDurationMs();
    m_targetMs = target < HLS_TARGET_MIN_MS ? HLS_TARGET_MIN_MS : target > HLS_TARGET_MAX_MS ? HLS_TARGET_MAX_MS : target;
    const std::vector<CHlsSegment>& segments = list.Segments();
    size_t from = 0;
    bool first = !m_loaded;
    if (first) {
        if (!list.HasEnded()) {
            // Back from the live edge until three target durations lie ahead.
            unsigned ahead = 0;
            from = segments.size();
            while (from > 0 && ahead < HLS_START_TARGETS * m_targetMs) {
                --from;
                ahead += segments[from].durationMs != 0 ? segments[from].durationMs : m_targetMs;
            }
        }
        m_loaded = true;
    } else {
        while (from < segments.size() && segments[from].sequence < m_nextSequence)
            ++from;
    }
    bool changed = from < segments.size() || (list.HasEnded() && !m_ended);
    for (; from < segments.size(); ++from) {
        m_queue.push_back(segments[from]);
        m_nextSequence = segments[from].sequence + 1;
    }
    m_ended = list.HasEnded();
    m_loadedAt = nowMs;
    m_lastChanged = changed;
    if (changed || first)
        m_changedAt = nowMs;
}

void CHlsWindow::Unchanged(unsigned nowMs)
{
    m_loadedAt = nowMs;
    m_lastChanged = false;
}

bool CHlsWindow::Next(CHlsSegment* segment)
{
    if (m_queue.empty())
        return false;
    *segment = m_queue.front();
    m_queue.pop_front();
    return true;
}

unsigned CHlsWindow::ReloadDelayMs(unsigned nowMs) const
{
    unsigned interval = m_lastChanged ? m_targetMs : m_targetMs / 2;
    unsigned since = nowMs - m_loadedAt;
    return since >= interval ? 0 : interval - since;
}

bool CHlsWindow::HasStalled() const
{
    return !m_ended && m_loadedAt - m_changedAt >= HLS_STALL_TARGETS * m_targetMs;
}
