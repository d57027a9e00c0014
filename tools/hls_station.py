"""The bundled station's HLS mode: a live window sliding in real time over the build's segments
(tools/hls_media.py), its master list, and the ways it can be told to misbehave.

Addresses: /live.m3u8 the master list (a video-only variant first, then the audio one), also
at / for players with a fixed station address;
/audio.m3u8 the media list; /video.m3u8 the video variant's list (no player of audio should ask
for it); /seg/<sequence>.<ext> a segment by its media sequence number; /init.mp4 (fmp4);
/key.bin (aes, aes-seq). Anything else is 404.
"""
import os
import random
import subprocess
import threading
import time

FORMS = ("ts-aac", "ts-mp3", "packed-aac", "ts-id3", "fmp4", "aes", "aes-seq", "ts-switch")
HOSTILE = ("self", "endless", "ts-cc", "ts-pes-length", "ts-garbage", "slow", "huge", "bad-key")
FIRST_SEQUENCE = 1000  # a station that has been on the air for a while
WINDOW = 6  # segments in each live list
# The segments are looped: the first one after the starting window is the loop's start, so that a
# player starting near the live edge meets the discontinuity within seconds.
LOOP_SHIFT = 2
STATION_NAME = "Pellora HLS"
ENDLESS_START = 1000  # entries in the endless list at start, and growth per second
ENDLESS_GROWTH = 200
HUGE_BYTES = 10 * 1024 * 1024
SLOW_PIECE = 100  # bytes a second of a slow segment, which never ends
TS_PACKET = 188
TS_AUDIO_PID = 0x100  # ffmpeg's first elementary stream
FMP4_TIMESCALE = 44100  # the track's, as ffmpeg writes it for the tone

CONTENT_TYPES = {".m3u8": "application/vnd.apple.mpegurl", ".ts": "video/mp2t", ".aac": "audio/aac",
                 ".m4s": "audio/mp4", ".mp4": "audio/mp4", ".bin": "application/octet-stream"}


def title_of(sequence):
    """The #EXTINF title of a segment: a new song every two segments."""
    return "Pellora HLS - Song %d" % (sequence // 2)


class HlsStation:
    def __init__(self, media_dir, form, hostile=None, endlist=False, openssl="openssl"):
        self.form = form
        self.hostile = hostile
        self.endlist = endlist
        self.openssl = openssl
        # aes-seq encrypts the plain TS segments as they are asked for, with the aes form's key.
        self.folder = os.path.join(media_dir, "ts-aac" if form == "aes-seq" else form)
        self.key_file = os.path.join(media_dir, "aes", "key.bin")
        self.segments = []
        for line in open(os.path.join(self.folder, "segments.txt")):
            parts = line.split()
            self.segments.append((parts[0], float(parts[1]), parts[2] if len(parts) > 2 else None))
        self.extension = os.path.splitext(self.segments[0][0])[1]
        self.target = max(1, round(max(s[1] for s in self.segments)))
        self.started = time.monotonic()
        self.cache = {}
        self.cache_lock = threading.Lock()

    # --- the lists

    def loop_index(self, sequence):
        return (sequence - FIRST_SEQUENCE + LOOP_SHIFT) % len(self.segments)

    def segment_of(self, sequence):
        return self.segments[self.loop_index(sequence)]

    def published(self):
        """How many segments from FIRST_SEQUENCE on are out: a window's worth at start, then each
        as soon as its time has passed since the start."""
        if self.endlist:
            return len(self.segments)
        elapsed = time.monotonic() - self.started
        count = WINDOW
        ahead = 0.0
        while True:
            ahead += self.segment_of(FIRST_SEQUENCE + count)[1]
            if ahead > elapsed:
                return count
            count += 1

    def media_list(self):
        if self.hostile == "huge":
            return self.huge_list()
        count = self.published()
        first = 0 if self.endlist else count - WINDOW
        if self.hostile == "endless":
            first = 0
            count = ENDLESS_START + int((time.monotonic() - self.started) * ENDLESS_GROWTH)
        loop = len(self.segments)
        lines = ["#EXTM3U", "#EXT-X-VERSION:%d" % (7 if self.form == "fmp4" else 3),
                 "#EXT-X-TARGETDURATION:%d" % self.target,
                 "#EXT-X-MEDIA-SEQUENCE:%d" % (FIRST_SEQUENCE + first),
                 "#EXT-X-DISCONTINUITY-SEQUENCE:%d" % ((first + LOOP_SHIFT) // loop)]
        if self.form == "fmp4":
            lines.append('#EXT-X-MAP:URI="init.mp4"')
        if self.form == "aes-seq":
            lines.append('#EXT-X-KEY:METHOD=AES-128,URI="key.bin"')
        for index in range(first, count):
            sequence = FIRST_SEQUENCE + index
            name, seconds, iv = self.segment_of(sequence)
            if self.is_discontinuity(sequence) and index != first:
                lines.append("#EXT-X-DISCONTINUITY")
            if self.form == "aes":
                lines.append('#EXT-X-KEY:METHOD=AES-128,URI="key.bin",IV=0x%s' % iv)
            # Packed audio and the timed ID3 stream carry their titles in their tags.
            title = "" if self.form in ("packed-aac", "ts-id3") else title_of(sequence)
            lines.append("#EXTINF:%.6f,%s" % (seconds, title))
            lines.append("seg/%d%s" % (sequence, self.extension))
        if self.endlist:
            lines.append("#EXT-X-ENDLIST")
        return ("\n".join(lines) + "\n").encode()

    def is_discontinuity(self, sequence):
        """Where the loop starts over, and in ts-switch where its codec changes, half way through."""
        index = self.loop_index(sequence)
        return index == 0 or (self.form == "ts-switch" and index == len(self.segments) // 2)

    def huge_list(self):
        head = ("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:%d\n#EXT-X-MEDIA-SEQUENCE:%d\n"
                % (self.target, FIRST_SEQUENCE)).encode()
        entry = ("#EXTINF:%.6f,\nseg/%%d%s\n" % (self.segments[0][1], self.extension))
        body = bytearray(head)
        sequence = FIRST_SEQUENCE
        while len(body) < HUGE_BYTES:
            body += (entry % sequence).encode()
            sequence += 1
        return bytes(body)

    def live_title(self):
        """The title of the newest segment out: what the station's now-playing page shows."""
        return title_of(FIRST_SEQUENCE + self.published() - 1)

    def master_list(self):
        codecs = "mp4a.40.34" if self.form == "ts-mp3" else "mp4a.40.2"
        variant = "live.m3u8" if self.hostile == "self" else "audio.m3u8"
        lines = ["#EXTM3U", "#EXT-X-VERSION:3",
                 '#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="radio",NAME="%s",DEFAULT=YES,AUTOSELECT=YES' % STATION_NAME,
                 '#EXT-X-STREAM-INF:BANDWIDTH=2500000,CODECS="avc1.64001f",RESOLUTION=1280x720',
                 "video.m3u8",
                 '#EXT-X-STREAM-INF:BANDWIDTH=140000,CODECS="%s",AUDIO="radio"' % codecs,
                 variant]
        return ("\n".join(lines) + "\n").encode()

    def video_list(self):
        return ("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:%d\n#EXT-X-MEDIA-SEQUENCE:%d\n"
                "#EXTINF:2.0,\nvideo/%d.ts\n" % (self.target, FIRST_SEQUENCE, FIRST_SEQUENCE)).encode()

    # --- the segments

    def key(self):
        key = open(self.key_file, "rb").read()
        return key[:15] if self.hostile == "bad-key" else key

    def segment(self, sequence):
        """A segment's bytes as served, None for one not yet out."""
        if sequence < FIRST_SEQUENCE:
            return None
        if self.hostile not in ("endless", "huge") and sequence >= FIRST_SEQUENCE + self.published():
            return None
        name = self.segment_of(sequence)[0]
        with self.cache_lock:
            key = (name, sequence if self.form == "aes-seq" else None)
            if key not in self.cache:
                data = open(os.path.join(self.folder, name), "rb").read()
                if self.form == "aes-seq":
                    data = self.encrypt(data, sequence.to_bytes(16, "big"))
                if self.form == "fmp4":
                    data = restamp_fmp4(data, self.loops(sequence) * self.loop_samples())
                data = mangle(data, self.hostile, sequence)
                self.cache[key] = data
            return self.cache[key]

    def loops(self, sequence):
        """How often the loop has started over before this segment."""
        return (sequence - FIRST_SEQUENCE + LOOP_SHIFT) // len(self.segments)

    def loop_samples(self):
        return sum(round(seconds * FMP4_TIMESCALE) for _, seconds, _ in self.segments)

    def encrypt(self, data, iv):
        key = open(self.key_file, "rb").read()
        return subprocess.run([self.openssl, "enc", "-aes-128-cbc", "-K", key.hex(), "-iv", iv.hex()],
                              input=data, stdout=subprocess.PIPE, check=True).stdout

    def is_slow(self, sequence):
        return self.hostile == "slow" and sequence % 3 == 1

    # --- the answers

    def answer(self, path):
        """(status, content type, body) for a request's path (its query left out)."""
        if path in ("/", "/live.m3u8"):
            return "200 OK", CONTENT_TYPES[".m3u8"], self.master_list()
        if path == "/audio.m3u8":
            return "200 OK", CONTENT_TYPES[".m3u8"], self.media_list()
        if path == "/video.m3u8":
            return "200 OK", CONTENT_TYPES[".m3u8"], self.video_list()
        if path == "/init.mp4" and self.form == "fmp4":
            return "200 OK", CONTENT_TYPES[".mp4"], open(os.path.join(self.folder, "init.mp4"), "rb").read()
        if path == "/key.bin" and self.form in ("aes", "aes-seq"):
            return "200 OK", CONTENT_TYPES[".bin"], self.key()
        if path.startswith("/seg/") and path.endswith(self.extension):
            number = path[len("/seg/"):-len(self.extension)]
            data = self.segment(int(number)) if number.isdigit() else None
            if data is not None:
                return "200 OK", CONTENT_TYPES[self.extension], data
        return "404 Not Found", "text/plain", b"not found\n"

    def serve(self, sock, path, stopping):
        status, content_type, body = self.answer(path)
        head = ("HTTP/1.0 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                % (status, content_type, len(body))).encode()
        number = path[len("/seg/"):-len(self.extension)] if path.startswith("/seg/") else ""
        if status.startswith("200") and number.isdigit() and self.is_slow(int(number)):
            sock.sendall(head)
            for at in range(0, len(body), SLOW_PIECE):
                if stopping.wait(1.0):
                    return
                sock.sendall(body[at:at + SLOW_PIECE])
            return
        sock.sendall(head + body)


def boxes(data, start, end):
    """(type, offset, size) of the ISO BMFF boxes in data[start:end]."""
    at = start
    while at + 8 <= end:
        size = int.from_bytes(data[at:at + 4], "big")
        if size < 8:
            return
        yield data[at + 4:at + 8], at, size
        at += size


def restamp_fmp4(data, later):
    """A fragment's decode time (tfdt) and the index's first presentation time (sidx) moved on by
    `later` units: a live fMP4 station's clock runs on across the loop."""
    out = bytearray(data)

    def add(at, width):
        value = int.from_bytes(out[at:at + width], "big") + later
        out[at:at + width] = value.to_bytes(width, "big")

    for kind, at, size in boxes(data, 0, len(data)):
        if kind == b"sidx":
            add(at + 20, 8 if data[at + 8] == 1 else 4)
        elif kind == b"moof":
            for inner, inner_at, inner_size in boxes(data, at + 8, at + size):
                if inner != b"traf":
                    continue
                for leaf, leaf_at, _ in boxes(data, inner_at + 8, inner_at + inner_size):
                    if leaf == b"tfdt":
                        add(leaf_at + 12, 8 if data[leaf_at + 8] == 1 else 4)
    return bytes(out)


def mangle(data, hostile, sequence):
    """A TS segment spoilt as a broken encoder or network would spoil it; others unchanged."""
    if hostile not in ("ts-cc", "ts-pes-length", "ts-garbage"):
        return data
    packets = [bytearray(data[at:at + TS_PACKET]) for at in range(0, len(data), TS_PACKET)]
    out = bytearray()
    noise = random.Random(sequence)
    for index, packet in enumerate(packets):
        pid = ((packet[1] & 0x1F) << 8) | packet[2]
        if pid == TS_AUDIO_PID and hostile == "ts-cc" and index % 40 == 20:
            # A counter that jumps: packets lost between, as far as the demuxer can tell.
            packet[3] = (packet[3] & 0xF0) | ((packet[3] + 5) & 0x0F)
        if pid == TS_AUDIO_PID and hostile == "ts-pes-length" and packet[1] & 0x40:
            start = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
            if packet[start:start + 3] == b"\0\0\1":
                lie = 0xFFF0 if index % 2 else 40
                packet[start + 4:start + 6] = lie.to_bytes(2, "big")
        out += packet
        if hostile == "ts-garbage" and index % 25 == 24:
            # Junk of any length between packets, sync bytes in it.
            junk = bytearray(noise.randrange(256) for _ in range(noise.randrange(1, 400)))
            for at in range(0, len(junk), 37):
                junk[at] = 0x47
            out += junk
    return bytes(out)
