"""The HLS station itself, with ffmpeg as its client: every form decodes to the tones at pitch without
gaps across segments, reloads and the loop's discontinuity; the lists slide, finish and misbehave as
told."""
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
from multiprocessing.pool import ThreadPool

from audio import active_span, frequency, longest_gap, read_channels
from harness import Checks
from hls_support import FORMS, LEFT_HZ, RIGHT_HZ, HlsStation

LIVE_SECONDS = 12
TS_PACKET = 188


def get(url, limit=None):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return answer.read(limit) if limit else answer.read()


def decode(url, path, seconds):
    """ffmpeg reading the list as a player would; returns its process (running)."""
    args = ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", url]
    if seconds:
        args += ["-t", str(seconds)]
    return subprocess.Popen(args + ["-f", "wav", path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def check_tone(c, what, path, seconds):
    if not os.path.exists(path):
        c.check(False, "%s: ffmpeg wrote nothing" % what)
        return
    rate, l, r = read_channels(path)
    start, end = active_span(l, r)
    c.check((end - start) / rate >= seconds - 0.5, "%s: %.2f s decoded" % (what, (end - start) / rate))
    fl, fr = frequency(l, start, end, rate), frequency(r, start, end, rate)
    c.check(abs(fl - LEFT_HZ) < LEFT_HZ / 200 and abs(fr - RIGHT_HZ) < RIGHT_HZ / 200,
            "%s: %.1f Hz left, %.1f Hz right" % (what, fl, fr))
    gap = longest_gap(l, r, start, end, rate)
    c.check(gap < 0.05, "%s: no gap over 50 ms, longest %.3f s" % (what, gap))


def continuity_jumps(data, pid=0x100):
    """Continuity counter steps other than +1 on one PID of a TS made of whole packets."""
    jumps = 0
    last = None
    for at in range(0, len(data) - TS_PACKET + 1, TS_PACKET):
        packet = data[at:at + TS_PACKET]
        if ((packet[1] & 0x1F) << 8 | packet[2]) != pid or not packet[3] & 0x10:
            continue
        counter = packet[3] & 0x0F
        if last is not None and counter != (last + 1) & 0x0F:
            jumps += 1
        last = counter
    return jumps


def check_live(c, tmp):
    """Every form through its media list, all at once; the station's log shows the order."""
    stations = {form: HlsStation(form, lifetime=60) for form in FORMS}
    try:
        runs = {form: decode(s.media, os.path.join(tmp, form + ".wav"), LIVE_SECONDS) for form, s in stations.items()}
        for form, run in runs.items():
            try:
                _, errors = run.communicate(timeout=LIVE_SECONDS + 30)
            except subprocess.TimeoutExpired:
                run.kill()
                errors = b"timed out"
            c.check(run.returncode == 0, "%s: ffmpeg ends well: %s" % (form, errors.decode(errors="replace")[-300:]))
            check_tone(c, form, os.path.join(tmp, form + ".wav"), LIVE_SECONDS)
            sequence = stations[form].segments()
            c.check(sequence == list(range(sequence[0], sequence[0] + len(sequence))) if sequence else False,
                    "%s: segments asked for in order, once each: %s" % (form, sequence))
            # The loop restarts at 1006: past it, the discontinuity was crossed.
            c.check(any(s > 1006 for s in sequence), "%s: the loop's discontinuity was crossed" % form)
    finally:
        for s in stations.values():
            s.__exit__()


def check_lists(c):
    with HlsStation("ts-aac") as station:
        master = get(station.master).decode()
        c.check(master.index("CODECS=\"avc1.64001f\"") < master.index("CODECS=\"mp4a.40.2\""),
                "the master list names the video-only variant before the audio one")
        c.check('NAME="Pellora HLS"' in master, "the master list names the station")
        first = get(station.media).decode()
        entries = re.findall(r"#EXTINF:[0-9.]+,(.*)\nseg/(\d+)\.ts", first)
        c.check(len(entries) == 6 and entries[0][0] == "Pellora HLS - Song 500",
                "the live list holds six titled segments: %r" % entries[:2])
        time.sleep(2.2)
        second = get(station.media).decode()
        moved = int(re.search(r"MEDIA-SEQUENCE:(\d+)", second).group(1)) - int(re.search(r"MEDIA-SEQUENCE:(\d+)",
                                                                                           first).group(1))
        c.check(moved == 1 and "#EXT-X-DISCONTINUITY\n" in second,
                "two seconds on the window slid by one segment, to the loop's discontinuity: %d" % moved)
        c.check(station.fetched("/video.m3u8") == 0, "nothing asked for the video list")
        try:
            get(station.url + "seg/2000.ts")
            c.check(False, "a segment not yet out is refused")
        except urllib.error.HTTPError as error:
            c.check(error.code == 404, "a segment not yet out is refused: %d" % error.code)
    with HlsStation("ts-mp3") as station:
        c.check('CODECS="mp4a.40.34"' in get(station.master).decode(), "the MP3 variant says mp4a.40.34")
    with HlsStation("ts-id3") as station:
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_streams", station.url + "seg/1001.ts"],
                               stdout=subprocess.PIPE, text=True).stdout
        c.check("codec_name=timed_id3" in probe and "codec_name=aac" in probe,
                "ts-id3: ffprobe finds the AAC and the timed ID3 streams")
        c.check(re.search(r"#EXTINF:[0-9.]+,\n", get(station.media).decode()) is not None,
                "ts-id3: the list's entries have no titles of their own")


def check_finished(c, tmp):
    with HlsStation("ts-aac", "--hls-endlist") as station:
        text = get(station.media).decode()
        c.check(text.rstrip().endswith("#EXT-X-ENDLIST") and text.count("#EXTINF") == 8,
                "a finished list holds the loop once and ends")
        path = os.path.join(tmp, "finished.wav")
        run = decode(station.media, path, None)
        run.communicate(timeout=60)
        check_tone(c, "finished list", path, 15.5)


def check_hostile(c):
    modes = {"self": "ts-aac", "endless": "ts-aac", "huge": "ts-aac", "bad-key": "aes", "plain": "ts-aac",
             "ts-cc": "ts-aac", "ts-pes-length": "ts-aac", "ts-garbage": "ts-aac", "slow": "ts-aac"}
    # Started side by side: a station takes a second or two to start on a busy machine.
    with ThreadPool(len(modes)) as pool:
        started = pool.map(lambda mode: HlsStation(modes[mode], *([] if mode == "plain" else ["--hls-hostile", mode])),
                           modes)
    stations = dict(zip(modes, started))
    try:
        c.check("\nlive.m3u8\n" in get(stations["self"].master).decode(), "self: the master names itself")
        first = get(stations["endless"].media).decode().count("#EXTINF")
        time.sleep(1)
        second = get(stations["endless"].media).decode().count("#EXTINF")
        c.check(first >= 1000 and second >= first + 150, "endless: %d entries, a second later %d" % (first, second))
        size = len(get(stations["huge"].media))
        c.check(size >= 10 * 1024 * 1024, "huge: a media list of %d bytes" % size)
        c.check(len(get(stations["bad-key"].url + "key.bin")) == 15, "bad-key: the key has 15 bytes")
        plain = get(stations["plain"].url + "seg/1001.ts")
        c.check(continuity_jumps(plain) == 0, "the plain segment's counters run on")
        c.check(continuity_jumps(get(stations["ts-cc"].url + "seg/1001.ts")) >= 3, "ts-cc: counters jump")
        spoilt = get(stations["ts-pes-length"].url + "seg/1001.ts")
        c.check(len(spoilt) == len(plain) and spoilt != plain, "ts-pes-length: same packets, other bytes")
        spoilt = get(stations["ts-garbage"].url + "seg/1001.ts")
        c.check(len(spoilt) > len(plain) and plain[:25 * TS_PACKET] == spoilt[:25 * TS_PACKET],
                "ts-garbage: junk after the 25th packet (%d bytes more)" % (len(spoilt) - len(plain)))
        slow = stations["slow"]
        c.check(len(get(slow.url + "seg/1002.ts")) > 30000, "slow: other segments come whole")
        begun = time.monotonic()
        with urllib.request.urlopen(slow.url + "seg/1003.ts", timeout=10) as answer:
            length = int(answer.headers["Content-Length"])
            answer.read(300)
        took = time.monotonic() - begun
        c.check(length > 30000 and took >= 2, "slow: 300 of %d bytes took %.1f s" % (length, took))
    finally:
        for station in stations.values():
            station.__exit__()


def main():
    c = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        check_live(c, tmp)
        check_lists(c)
        check_finished(c, tmp)
        check_hostile(c)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
