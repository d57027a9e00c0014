#!/usr/bin/env python3
"""Makes the HLS station's segments at build time from one continuous tone (440 Hz left, 660 Hz right).

  hls_media.py OUT_DIR SOX FFMPEG OPENSSL

Each form gets a folder under OUT_DIR with its segments and a list, segments.txt, of one
"<file> <seconds>" line per segment (an AES segment's line ends with its IV in hex):
  ts-aac      MPEG-TS, AAC LC in ADTS (stream type 0x0F)
  ts-mp3      MPEG-TS, MP3 (stream type 0x03)
  packed-aac  ADTS frames after an ID3v2.4 tag (PRIV transport-stream timestamp, TIT2, TPE1)
  ts-id3      the ts-aac segments with a timed ID3 stream (type 0x15) whose tag at each segment's
              start carries its title (TIT2, TPE1)
  fmp4        fragmented MP4, AAC LC: init.mp4 and .m4s segments
  aes         the ts-aac segments, AES-128-CBC with PKCS7 padding under key.bin, each with its own IV
  ts-switch   the first half of the ts-aac segments, then the second half of the ts-mp3 ones: a
              station that changes codec (the station marks the change as a discontinuity)
The encoders' first segment (their start-up delay, near-silence) and the short tail are left
out, so the segments loop into each other with the tone sounding throughout.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

TONE_SECONDS = 20
SEGMENT_SECONDS = 2
KEPT = range(1, 9)  # segments kept of each encoder's cut: about 16 s
AES_KEY = bytes(range(0x30, 0x40))
PRIV_OWNER = b"com.apple.streaming.transportStreamTimestamp"
PACKED_ARTIST = "Pellora"
TS_PACKET = 188
PMT_PID = 0x1000  # ffmpeg's
ID3_PID = 0x102
# The PMT entry of a timed ID3 stream: stream type 0x15 and its metadata_descriptor ("ID3 ").
ID3_STREAM = (bytes([0x15, 0xE0 | ID3_PID >> 8, ID3_PID & 0xFF, 0xF0, 15]) +
              bytes([0x26, 13, 0xFF, 0xFF]) + b"ID3 " + b"\xFF" + b"ID3 " + bytes([0x00, 0x0F]))


def run(*cmd):
    subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL)


def cut(ffmpeg, wav, folder, codec, segment_type, extension):
    """Lets ffmpeg's segmenter cut the encoded tone; returns [(file, seconds)] of the kept segments."""
    args = [ffmpeg, "-nostdin", "-v", "error", "-y", "-i", wav, *codec, "-f", "hls",
            "-hls_time", str(SEGMENT_SECONDS), "-hls_list_size", "0", "-hls_segment_type", segment_type,
            "-hls_segment_filename", os.path.join(folder, "cut%d." + extension)]
    if segment_type == "fmp4":
        args += ["-hls_fmp4_init_filename", "init.mp4"]
    run(*args, os.path.join(folder, "cut.m3u8"))
    listed = re.findall(r"#EXTINF:([0-9.]+),\s*\n(\S+)", open(os.path.join(folder, "cut.m3u8")).read())
    kept = []
    for index in KEPT:
        seconds, name = listed[index]
        final = "seg%d.%s" % (len(kept), extension)
        os.rename(os.path.join(folder, name), os.path.join(folder, final))
        kept.append((final, float(seconds)))
    for name in os.listdir(folder):
        if name.startswith("cut"):
            os.remove(os.path.join(folder, name))
    return kept


def write_list(folder, segments):
    with open(os.path.join(folder, "segments.txt"), "w") as f:
        for segment in segments:
            f.write(" ".join(str(part) for part in segment) + "\n")


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3_frame(frame_id, body):
    return frame_id + syncsafe(len(body)) + b"\0\0" + body


def mpeg_crc32(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = (crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def title_frames(title):
    """TIT2 and TPE1 in UTF-8."""
    return (id3_frame(b"TIT2", b"\3" + title.encode() + b"\0") +
            id3_frame(b"TPE1", b"\3" + PACKED_ARTIST.encode() + b"\0"))


def id3_tag(frames):
    return b"ID3\4\0\0" + syncsafe(len(frames)) + frames


def with_id3_stream(ts, title, counter):
    """A TS segment with the timed ID3 stream added to its PMT and one tag, dated like the
    segment's first audio, put in before that audio."""
    out = bytearray()
    pts = None
    for at in range(0, len(ts), TS_PACKET):
        packet = bytearray(ts[at:at + TS_PACKET])
        pid = (packet[1] & 0x1F) << 8 | packet[2]
        if pid == PMT_PID and packet[1] & 0x40:
            start = 5 + packet[4]
            length = (packet[start + 1] & 0x0F) << 8 | packet[start + 2]
            section = bytearray(packet[start:start + 3 + length - 4]) + ID3_STREAM
            section[1:3] = bytes([0xB0 | (len(section) + 1) >> 8, (len(section) + 1) & 0xFF])
            section += mpeg_crc32(section).to_bytes(4, "big")
            packet = (packet[:start] + section).ljust(TS_PACKET, b"\xFF")
        elif pts is None and pid != 0 and pid < PMT_PID and pid != 0x11 and packet[1] & 0x40:
            payload = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
            pts = bytes(packet[payload + 9:payload + 14])
            pes = bytearray(b"\0\0\1\xBD\0\0\x84\x80\x05") + pts + id3_tag(title_frames(title))
            pes[4:6] = (len(pes) - 6).to_bytes(2, "big")
            stuffing = TS_PACKET - 4 - len(pes)
            head = bytes([0x47, 0x40 | ID3_PID >> 8, ID3_PID & 0xFF, 0x30 | counter & 0x0F])
            field = bytes([stuffing - 1]) + (b"\0" + b"\xFF" * (stuffing - 2) if stuffing > 1 else b"")
            out += head + field + pes
        out += packet
    return bytes(out)


def timed(source, folder, segments):
    out = []
    for index, (name, seconds) in enumerate(segments):
        ts = open(os.path.join(source, name), "rb").read()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(with_id3_stream(ts, "Timed Tone %d" % (index + 1), index))
        out.append((name, seconds))
    return out


def packed_tag(pts, title):
    """An ID3v2.4 tag as packed-audio segments begin with: the 33-bit timestamp of the first
    frame (90 kHz), then the title and artist in UTF-8."""
    return id3_tag(id3_frame(b"PRIV", PRIV_OWNER + b"\0" + struct.pack(">Q", pts & 0x1FFFFFFFF)) +
                   title_frames(title))


def packed(ffmpeg, source, folder, segments):
    """The ts-aac segments' own ADTS frames, each segment after its tag."""
    start = 0.0
    out = []
    for index, (name, seconds) in enumerate(segments):
        adts = subprocess.run([ffmpeg, "-nostdin", "-v", "error", "-i", os.path.join(source, name), "-c", "copy",
                               "-f", "adts", "-"], check=True, stdout=subprocess.PIPE).stdout
        final = "seg%d.aac" % index
        with open(os.path.join(folder, final), "wb") as f:
            f.write(packed_tag(round(start * 90000), "Packed Tone %d" % (index + 1)) + adts)
        out.append((final, seconds))
        start += seconds
    return out


def encrypt(openssl, source, folder, segments):
    """The ts-aac segments under one key, each with an IV of its own (given in the list)."""
    with open(os.path.join(folder, "key.bin"), "wb") as f:
        f.write(AES_KEY)
    out = []
    for index, (name, seconds) in enumerate(segments):
        iv = bytes([0xA5 ^ index] * 8 + list(range(index, index + 8)))
        run(openssl, "enc", "-aes-128-cbc", "-K", AES_KEY.hex(), "-iv", iv.hex(),
            "-in", os.path.join(source, name), "-out", os.path.join(folder, name))
        out.append((name, seconds, iv.hex()))
    return out


def switching(folder, segments):
    """Copies of the ts-aac segments, the second half of them the ts-mp3 ones instead."""
    for index, (name, _) in enumerate(segments):
        source = "ts-aac" if index < len(segments) // 2 else "ts-mp3"
        shutil.copyfile(os.path.join(folder, "..", source, name), os.path.join(folder, name))
    return segments


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    out_dir, sox, ffmpeg, openssl = argv
    # Built beside the final folder and moved in at the end, so that a stopped build leaves no half set.
    work = out_dir + ".new"
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "tone.wav")
        run(sox, "-n", "-r", "44100", "-c", "2", wav, "synth", str(TONE_SECONDS), "sine", "440", "sine", "660",
            "vol", "0.5")
        forms = {
            "ts-aac": (["-c:a", "aac", "-b:a", "128k"], "mpegts", "ts"),
            "ts-mp3": (["-c:a", "libmp3lame", "-b:a", "128k"], "mpegts", "ts"),
            "fmp4": (["-c:a", "aac", "-b:a", "128k"], "fmp4", "m4s"),
        }
        made = {}
        for form, (codec, segment_type, extension) in forms.items():
            folder = os.path.join(work, form)
            os.makedirs(folder)
            made[form] = cut(ffmpeg, wav, folder, codec, segment_type, extension)
            write_list(folder, made[form])
    source = os.path.join(work, "ts-aac")
    half = len(made["ts-aac"]) // 2
    switched = made["ts-aac"][:half] + made["ts-mp3"][half:]
    for form, make in (("packed-aac", lambda f: packed(ffmpeg, source, f, made["ts-aac"])),
                       ("aes", lambda f: encrypt(openssl, source, f, made["ts-aac"])),
                       ("ts-id3", lambda f: timed(source, f, made["ts-aac"])),
                       ("ts-switch", lambda f: switching(f, switched))):
        folder = os.path.join(work, form)
        os.makedirs(folder)
        write_list(folder, make(folder))
    shutil.rmtree(out_dir, ignore_errors=True)
    os.rename(work, out_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
