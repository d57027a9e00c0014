"""Recording from the bundled station: the file is the stream's bytes as sent, banner 1 and the lamp
take turns with the tick, banner 2 and a beep at the end, two recordings in one second keep two
files, playback goes on meanwhile, and ending the program mid-recording keeps what was written."""
import os
import sys
import time

from harness import wait_for
from pelradio import Screenshot, TestStation
from recorder_support import (RECORD_AT, connections, decodes, read, recorder, recorder_connections, recordings,
                              run, tail_offset)

# The station bursts 64 KiB and then paces; the two dropped blocks lie within that burst and what follows it.
DROPPED_LIMIT = 2 * 65536 + 16384


def player_sent(sent_dir):
    """Bytes sent so far on the control's connections (those that asked for titles)."""
    return sum(len(sent) for request, sent in connections(sent_dir) if b"Icy-MetaData" in request)


def check_tail(c, path, audio, what):
    data = read(path)
    offset = tail_offset(data, audio)
    c.check(len(data) > 0 and offset >= 0,
            "%s: %d bytes, one contiguous piece of what the station sent after its header" % (what, len(data)))
    c.check(0 <= offset <= DROPPED_LIMIT, "%s starts within the first two blocks' span: at %d" % (what, offset))
    return data


def tick_times(timed):
    """The tick's times over a run of (time, state) samples: each swap lies between two samples;
    the ticks are then every 0.5 s from the median phase of the swaps."""
    swaps = [(a[0] + b[0]) / 2 for a, b in zip(timed, timed[1:]) if a[1] != b[1]]
    if not swaps:
        return []
    phases = sorted((t - swaps[0] + 0.25) % 0.5 - 0.25 for t in swaps)
    anchor = swaps[0] + phases[len(phases) // 2]
    start = timed[0][0] - 1.0
    return [anchor + 0.5 * k for k in range(int((start - anchor) / 0.5) - 1, int((timed[-1][0] - anchor) / 0.5) + 2)]


def test(c, work):
    folder = os.path.join(work, "records")
    sent = os.path.join(work, "sent")
    os.makedirs(folder)
    os.makedirs(sent)
    with TestStation("--record-sent", sent, lifetime=150):
        player = recorder(work, folder)
        c.check(player.window is not None, "the window appears")
        c.check(wait_for(lambda: player_sent(sent) > 0, 20), "the control plays the station")
        c.check(player.state() == ([], False), "no banner and no lamp before recording")

        # One recording of a few seconds, watched while it runs. The tick's phase, read off the
        # swaps themselves, tells how many ticks came between the click and the first screenshot.
        began = time.monotonic()
        player.tap(*RECORD_AT)
        timed = []
        playing_at_start = player_sent(sent)
        while time.monotonic() - began < 4.0:
            shot = Screenshot()
            timed.append((time.monotonic(), player.state(shot)))
        samples = [state for _, state in timed]
        ticks = tick_times(timed)
        first_at = timed[0][0]
        near = [t for t in ticks if abs(t - began) < 0.1 or abs(t - first_at) < 0.12]
        swapped = sum(1 for t in ticks if began < t < first_at) % 2 == 1
        expected = [([1], False), ([], True)] if near else [([], True) if swapped else ([1], False)]
        c.check(samples[0] in expected, "banner 1 shown and the lamp hidden at the start: %r (ticks %s)"
                % (samples[0], "near" if near else "between: %d" % swapped))
        alternating = [s for s in samples if s in (([1], False), ([], True))]
        c.check(len(alternating) >= 0.8 * len(samples),
                "banner 1 and the lamp take turns: %d of %d screenshots show exactly one"
                % (len(alternating), len(samples)))
        turns = sum(1 for a, b in zip(alternating, alternating[1:]) if a != b)
        c.check(turns >= 5, "they swap with the tick: %d swaps in 4 s" % turns)
        player.tap(*RECORD_AT)
        c.check(player.wait_state([2], False), "banner 2 after the stop, the lamp hidden")
        c.check(wait_for(lambda: player.beeps() == 1, 5), "one beep")
        c.check(player_sent(sent) - playing_at_start > 40000,
                "playback went on meanwhile: the control's connection got %d more bytes"
                % (player_sent(sent) - playing_at_start))

        files = recordings(folder)
        c.check(len(files) == 1, "one file: %r" % [os.path.basename(f) for f in files])
        records = recorder_connections(sent)
        c.check(len(records) == 1, "the station saw the recorder's own connection with the 18-byte request")
        if files and records:
            data = check_tail(c, files[0], records[0], "the recording")
            ok, seconds, errors = decodes(files[0])
            c.check(ok and seconds > 3.0, "it decodes as MP3: %.1f s of audio %s" % (seconds, errors[:200]))
            c.check(len(data) > 48000, "it holds seconds of stream (3 s at 128 kbit/s is 48000 bytes): %d bytes" % len(data))

        # Two recordings started within one second: the second gets a name of its own.
        pair = []
        endings = 1
        for attempt in range(3):
            before = set(recordings(folder))
            first_conn = len(recorder_connections(sent))
            wait_for(lambda: time.time() % 1.0 < 0.1, 2, step=0.01)
            player.tap(*RECORD_AT)
            time.sleep(0.2)
            player.tap(*RECORD_AT)
            player.tap(*RECORD_AT)
            # X input arrives in order: once the second runs, the first is closed.
            time.sleep(1)
            new = sorted(set(recordings(folder)) - before, key=lambda p: (len(p), p))
            first_stopped = read(new[0]) if new else None
            time.sleep(2)
            player.tap(*RECORD_AT)
            endings += 2
            c.check(player.wait_state([2], False), "banner 2 after the second of the pair")
            pair = sorted(set(recordings(folder)) - before, key=lambda p: (len(p), p))
            names = [os.path.basename(p) for p in pair]
            if len(pair) == 2 and names[1] == names[0][:-4] + "-2.mp3":
                break
            print("the pair fell in two seconds (%r); again" % names)
        c.check(len(pair) == 2 and os.path.basename(pair[1]) == os.path.basename(pair[0])[:-4] + "-2.mp3",
                "two recordings in one second make two files: %r" % [os.path.basename(p) for p in pair])
        if len(pair) == 2:
            c.check(read(pair[0]) == first_stopped, "the first of the pair is left as it was")
            records = recorder_connections(sent)[first_conn:]
            c.check(len(records) == 2, "each of the pair had its own connection")
            if len(records) == 2:
                if first_stopped:
                    c.check(tail_offset(first_stopped, records[0]) >= 0,
                            "the first of the pair is a piece of its own connection's stream")
                check_tail(c, pair[1], records[1], "the second of the pair")
        c.check(wait_for(lambda: player.beeps() == endings, 5), "a beep for each ending: %d" % player.beeps())

        # Ending the program while recording keeps what was written.
        before = set(recordings(folder))
        player.tap(*RECORD_AT)
        time.sleep(3)
        c.check(player.state()[0] in ([1], []), "recording before the program ends")
        c.check(player.close(), "the close box ends the program during a recording")
        last = sorted(set(recordings(folder)) - before)
        records = recorder_connections(sent)
        c.check(len(last) == 1, "the last recording's file is there")
        if last and records:
            check_tail(c, last[0], records[-1], "the recording cut by the program's end")
        c.check(player.beeps() == endings, "no beep when the program ends")


if __name__ == "__main__":
    sys.exit(run(test))
