"""A station whose source comes back with another sample rate, played the whole road into the null
sink: 3 s of a tone at 44.1 kHz, then 3 s of another at 22.05 kHz (MP3) or 48 kHz (ADTS AAC). Both
are heard at their pitch and for their length: the device is opened again at the new rate once the
first part has played out, and the stream goes on."""
import os
import subprocess
import sys
import tempfile

from audio import Capture, active_span, frequency, read_channels
from harness import Checks, Station, run_windows

ICYCAT = os.path.join("tools", "icycat.exe")
FIRST = (440, 660)  # Hz, left and right, at 44.1 kHz
SECOND = (330, 495)  # at the second rate
PART_SECONDS = 3
WINDOW = 0.1  # seconds per pitch estimate
LOUD = 1000  # a tone's swing passes this both ways; the tones peak near 16000


def make_part(tmp, name, rate, tones, aac):
    """A PART_SECONDS tone (left, right) at rate, encoded at 128 kbit/s."""
    wav = os.path.join(tmp, name + ".wav")
    subprocess.run(["sox", "-n", "-r", str(rate), "-c", "2", wav, "synth", str(PART_SECONDS),
                    "sine", str(tones[0]), "sine", str(tones[1]), "gain", "-6"], check=True)
    out = os.path.join(tmp, name + (".aac" if aac else ".mp3"))
    if aac:
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-c:a", "aac", "-b:a", "128k",
                        "-f", "adts", out], check=True)
    else:
        subprocess.run(["lame", "--quiet", "-b", "128", wav, out], check=True)
    return open(out, "rb").read()


def runs(left, start, end, rate):
    """The capture as runs of one tone: [tone index or None, first sample, end sample]. Each window
    of the left channel is told by its swings from below -LOUD to above LOUD (the dither's noise in
    a silence makes none); a silence of up to two windows inside a tone (a gap in the capture
    under load, up to 90 ms) is counted in with it."""
    size = int(rate * WINDOW)
    out = []
    for at in range(start, end - size, size):
        swings = 0
        armed = False
        for x in left[at:at + size]:
            if x < -LOUD:
                armed = True
            elif x > LOUD and armed:
                swings += 1
                armed = False
        hz = swings / WINDOW
        tone = next((k for k, t in enumerate((FIRST, SECOND)) if abs(hz - t[0]) < 25), None)
        if len(out) >= 2 and out[-1][0] is None and out[-2][0] == tone and tone is not None \
                and out[-1][2] - out[-1][1] <= 2 * size:
            out.pop()
        if out and out[-1][0] == tone:
            out[-1][2] = at + size
        else:
            out.append([tone, at, at + size])
    return out


def play(c, what, tmp, station_args, body):
    path = os.path.join(tmp, what.replace(" ", "_") + ".wav")
    stream = os.path.join(tmp, "stream")
    with open(stream, "wb") as f:
        f.write(body)
    with Station(*station_args(stream)) as station, Capture(path):
        code, lines = run_windows(ICYCAT, "--play", station.url, "--seconds", str(3 * PART_SECONDS))
    reports = [l for l in lines if l in ("STARTED", "CLOSED", "ENDED")]
    c.check(reports[:3] == ["STARTED", "CLOSED", "STARTED"] and "ENDED" not in reports,
            "%s: the device was opened again and the stream went on: %r" % (what, reports))
    rate, left, right = read_channels(path)
    start, end = active_span(left, right)
    tones = runs(left, start, end, rate)
    # The loop starts with the first part; the first run of the second tone is the whole second part.
    second = next((r for r in tones if r[0] == 1), None)
    first = next((r for r in tones if r[0] == 0), None)
    if first is None or second is None or first[2] > second[1]:
        c.check(False, "%s: the first tone, then the second: %r" % (what, [(r[0], r[2] - r[1]) for r in tones]))
        return
    size = int(rate * WINDOW)
    for tone, (index, a, b) in ((FIRST, first), (SECOND, second)):
        seconds = (b - a) / rate
        # A window at each end may hold the change; a gap in the capture (under load) costs up to 0.1 s.
        # What is lost beyond that is the device running dry: real-time pacing.
        c.real_time(seconds >= PART_SECONDS - 0.35, "%s: tone %d heard for its %d s: %.2f s"
                % (what, index + 1, PART_SECONDS, seconds))
        # The pitch is read from the tone's longest run, which a device running dry may have broken up;
        # its end windows are left out where the run is long enough to spare them.
        _, la, lb = max((r for r in tones if r[0] == index), key=lambda r: r[2] - r[1])
        trim = size if lb - la >= 5 * size else 0
        fl = frequency(left, la + trim, lb - trim, rate)
        fr = frequency(right, la + trim, lb - trim, rate)
        c.check(abs(fl - tone[0]) < tone[0] / 100 and abs(fr - tone[1]) < tone[1] / 100,
                "%s: tone %d at %d/%d Hz over %.2f s: %.1f/%.1f"
                % (what, index + 1, tone[0], tone[1], (lb - la - 2 * trim) / rate, fl, fr))


def main():
    c = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        mp3 = make_part(tmp, "first", 44100, FIRST, False) + make_part(tmp, "second", 22050, SECOND, False)
        play(c, "MP3 44.1 to 22.05 kHz", tmp, lambda path: ["--mp3", path], mp3)
        aac = make_part(tmp, "first", 44100, FIRST, True) + make_part(tmp, "second", 48000, SECOND, True)
        play(c, "AAC 44.1 to 48 kHz", tmp, lambda path: ["--aac", path], aac)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
