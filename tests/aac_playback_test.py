"""AAC stations played the whole road (stream, choice of decoder, FAAD2, dither, wave-out) into the
null sink: the tones at their pitch, heard throughout without gaps, a stream without Content-Type
told by its frames, an MP3 stream mislabelled audio/aacp still played as MP3, and a real icecast2
relaying AAC. (A file's exact length is the decoder test's: a stream's end drops what is buffered.)"""
import os
import sys
import tempfile

import icecast
from audio import Capture, active_span, frequency, longest_gap, read_channels, sounding_seconds
from harness import BUILD_DIR, Checks, Station, run_windows

MEDIA = os.path.join(BUILD_DIR, "media")
ICYCAT = os.path.join("tools", "icycat.exe")


def play(c, what, tmp, station_args, left, right, url=None):
    """Plays a station for 6 s with icycat --play while capturing; checks pitch per channel, that
    it sounded for most of the run, and gaps."""
    path = os.path.join(tmp, "capture.wav")
    if url is None:
        with Station(*station_args) as station, Capture(path):
            code, lines = run_windows(ICYCAT, "--play", station.url, "--seconds", "6")
    else:
        with Capture(path):
            code, lines = run_windows(ICYCAT, "--play", url, "--seconds", "6")
    c.check("STARTED" in lines, "%s: playing started: %r" % (what, lines[:3]))
    rate, l, r = read_channels(path)
    start, end = active_span(l, r)
    if end - start < rate:
        c.check(False, "%s: heard for under a second" % what)
        return
    fl = frequency(l, start, end, rate)
    fr = frequency(r, start, end, rate)
    c.check(abs(fl - left) < left / 100, "%s: left channel at %d Hz: %.1f" % (what, left, fl))
    c.check(abs(fr - right) < right / 100, "%s: right channel at %d Hz: %.1f" % (what, right, fr))
    gap = longest_gap(l, r, start, end, rate)
    c.real_time(gap < 0.1, "%s: no gap beyond 100 ms: longest %.3f s" % (what, gap))
    heard = sounding_seconds(l, r, start, end, rate)
    c.check(heard >= 4.0, "%s: heard for most of the run: %.2f s" % (what, heard))


def main():
    c = Checks()
    tone44 = os.path.join(MEDIA, "dec_tone44.aac")
    mono22 = os.path.join(MEDIA, "dec_mono22.aac")
    with tempfile.TemporaryDirectory() as tmp:
        # Each paced at its own bit rate, as a station sends it.
        play(c, "AAC LC stereo 44.1 kHz", tmp, ["--aac", tone44], 440, 660)
        play(c, "AAC LC mono 22.05 kHz", tmp, ["--aac", mono22, "--kbps", "48"], 440, 440)
        play(c, "AAC without Content-Type", tmp, ["--aac", tone44, "--content-type", "none"], 440, 660)
        play(c, "MP3 labelled audio/aacp", tmp, ["--content-type", "audio/aacp"], 440, 660)
        if not icecast.available():
            c.check(False, "icecast2 and ffmpeg are installed")
        else:
            port = icecast.free_port()
            with icecast.icecast(port, mount="/radio.aac", aac=os.path.join(MEDIA, "station.aac")) as server:
                c.check(server.wait_live(), "icecast2 lists the AAC mount as fed")
                play(c, "icecast2 relaying AAC", tmp, None, 440, 660, url="http://127.0.0.1:%d/radio.aac" % port)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
