"""pelradio with an HLS station at its stream address: the tone heard at pitch, the station page's
changing titles in the label, and a recording made with the record tab that holds the station's
frames alone (ADTS in an .aac file, MPEG audio in an .mp3 one), decoding to the tone for as long
as it was recorded; a station that goes away mid-recording ends it with the error banner about
10 s after its last segment, the file kept."""
import os
import subprocess
import sys
import time

from audio import Capture, active_span, frequency, read_channels, sounding_seconds
from harness import wait_for
from hls_support import HLS_MEDIA, LEFT_HZ, RIGHT_HZ
from pelradio import TestStation, label_is_empty
from recorder_support import RECORD_AT, recorder, recordings, run, station_goes_away

RECORD_SECONDS = 6
# The recorder starts three target durations (of 2 s) behind the live edge, which come at once.
BACKLOG_SECONDS = 6
# Segments come whole: up to two more than the recording's time, as they fall.
SEGMENT_SECONDS = 2.03


def adts_frames(data):
    """How many ADTS frames the data holds, each after the one before, to its last byte; 0 when
    anything else is in it (a container's packet, a tag, a cut frame)."""
    at = count = 0
    while at + 7 <= len(data) and data[at] == 0xFF and data[at + 1] & 0xF6 == 0xF0:
        length = ((data[at + 3] & 3) << 11) | (data[at + 4] << 3) | (data[at + 5] >> 5)
        if length < 7:
            return 0
        at += length
        count += 1
    return count if at == len(data) else 0


def mpeg_frames(data):
    """As adts_frames, for MPEG-1 layer III frames at 44.1 kHz."""
    rates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
    at = count = 0
    while at + 4 <= len(data) and data[at] == 0xFF and data[at + 1] & 0xFE == 0xFA:
        kbps = rates[data[at + 2] >> 4]
        if not kbps or (data[at + 2] >> 2) & 3 != 0:
            return 0
        at += 144000 * kbps // 44100 + ((data[at + 2] >> 1) & 1)
        count += 1
    return count if at == len(data) else 0


def decoded(path):
    """(rate, left, right) of the file as ffmpeg decodes it, or None."""
    wav = path + ".wav"
    done = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-f", "wav", wav],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return read_channels(wav) if done.returncode == 0 else None


def check_tone(c, what, channels):
    rate, left, right = channels
    start, end = active_span(left, right)
    fl, fr = frequency(left, start, end, rate), frequency(right, start, end, rate)
    c.check(abs(fl - LEFT_HZ) < LEFT_HZ / 100 and abs(fr - RIGHT_HZ) < RIGHT_HZ / 100,
            "%s: %.1f Hz left, %.1f Hz right" % (what, fl, fr))
    return sounding_seconds(left, right, start, end, rate)


def record(c, player, folder, suffix, count_frames):
    """One recording of RECORD_SECONDS with the record tab; checks the file it leaves."""
    before = set(recordings(folder))
    player.tap(*RECORD_AT)
    time.sleep(RECORD_SECONDS)
    player.tap(*RECORD_AT)
    c.check(player.wait_state([2], False), "%s: banner 2 after the stop" % suffix)
    files = sorted(set(recordings(folder)) - before)
    c.check(len(files) == 1 and files[0].endswith(suffix), "one %s file: %r" % (suffix, [os.path.basename(f) for f in files]))
    if len(files) != 1:
        return
    data = open(files[0], "rb").read()
    frames = count_frames(data)
    c.check(frames > 0, "%s: %d bytes, whole frames and nothing else" % (suffix, len(data)))
    channels = decoded(files[0])
    c.check(channels is not None, "%s: ffmpeg decodes it" % suffix)
    if channels:
        seconds = check_tone(c, suffix + " decoded", channels)
        c.check(RECORD_SECONDS + BACKLOG_SECONDS - 3 <= seconds <= RECORD_SECONDS + BACKLOG_SECONDS + 2 * SEGMENT_SECONDS,
                "%s: %.1f s of tone for %d s recorded" % (suffix, seconds, RECORD_SECONDS))


def test(c, work):
    folder = os.path.join(work, "records")
    os.makedirs(folder)
    with TestStation("--hls", "ts-aac", "--hls-media", HLS_MEDIA, lifetime=90) as station:
        heard = os.path.join(work, "heard.wav")
        with Capture(heard):
            player = recorder(work, folder)
            c.check(wait_for(lambda: not label_is_empty(player.label()), 15), "a title in the label")
            first = player.label()
            c.check(wait_for(lambda: player.label() != first and not label_is_empty(player.label()), 15),
                    "the label follows the station's next title")
            record(c, player, folder, ".aac", adts_frames)
        seconds = check_tone(c, "heard", read_channels(heard))
        c.check(seconds > 8, "heard for %.1f s" % seconds)
        c.check(any(l.startswith("HLS /audio.m3u8") for l in station.lines), "the media list came through the master at /")
        player.close()
    with TestStation("--hls", "ts-mp3", "--hls-media", HLS_MEDIA, lifetime=60) as station:
        player = recorder(work, folder)
        record(c, player, folder, ".mp3", mpeg_frames)
        # The station goes away for good in the middle of a recording: about 10 s after its last segment.
        new = station_goes_away(c, player, station, folder, 7)
        c.check(len(new) == 1 and mpeg_frames(open(new[0], "rb").read()) > 0, "away: the file kept, whole frames: %r" % new)
        player.close()


if __name__ == "__main__":
    sys.exit(run(test))
