"""The recorder across its own connection's drops: a station that closes every stream connection
after 4 s (each new one starting mid-frame, where the broadcast has come to) is recorded into one
file, which is what the station sent on the recorder's connections, each cut at its last whole frame
and joined at the next one's first (the frames there that reach back past the join made silent),
and which decodes without an error; a station that goes away
ends the recording with the error banner once it has stayed away for 10 s, keeping the file."""
import os
import subprocess
import sys

from harness import wait_for
from pelradio import TestStation
from recorder_support import RECORD_AT, read, recorder, recorder_connections, recordings, run, station_goes_away

BITRATES = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
RATES = [44100, 48000, 32000, 0]


def frame_length(data, at):
    """The MPEG-1 layer III frame starting at data[at] (the station's kind), or 0."""
    if at + 4 > len(data) or data[at] != 0xFF or data[at + 1] & 0xFE != 0xFA:
        return 0
    bitrate, rate = BITRATES[data[at + 2] >> 4], RATES[(data[at + 2] >> 2) & 3]
    if not bitrate or not rate:
        return 0
    return 144000 * bitrate // rate + ((data[at + 2] >> 1) & 1)


def silent(frame):
    """A stereo layer III frame whose side information asks for no scale factors and no spectrum."""
    side = frame[4:36] if frame[1] & 1 else frame[6:38]
    return side[1] & 0x7F == 0 and not any(side[2:])


def first_frame(data):
    """Where the first frame that the next header confirms starts."""
    for at in range(len(data)):
        length = frame_length(data, at)
        if length and frame_length(data, at + length):
            return at
    return len(data)


def whole_frames_end(data, at):
    """The end of the last whole frame of those that follow one another from at."""
    while frame_length(data, at) and at + frame_length(data, at) <= len(data):
        at += frame_length(data, at)
    return at


def test(c, work):
    folder = os.path.join(work, "records")
    sent = os.path.join(work, "sent")
    os.makedirs(folder)
    os.makedirs(sent)
    player = recorder(work, folder)
    c.check(player.window is not None, "the window appears")

    with TestStation("--record-sent", sent, "--drop-every", "4", "--live", lifetime=60):
        beeps = player.beeps()
        player.tap(*RECORD_AT)
        # Three drops, and the fourth connection's audio flowing.
        c.check(wait_for(lambda: len(recorder_connections(sent)) >= 4 and len(recorder_connections(sent)[3]) > 30000, 30),
                "four recorder connections: %d" % len(recorder_connections(sent)))
        c.check(player.state()[0] in ([1], []), "still recording after three drops: %r" % (player.state(),))
        player.tap(*RECORD_AT)
        c.check(player.wait_state([2], False, seconds=10), "ended by the tab: banner 2: %r" % (player.state(),))
        c.check(wait_for(lambda: player.beeps() == beeps + 1, 5), "one beep")
    files = recordings(folder)
    c.check(len(files) == 1, "one file: %r" % files)
    records = recorder_connections(sent)
    if len(files) == 1 and len(records) >= 4:
        data = read(files[0])
        expected = b""
        joins = []
        for n, record in enumerate(records[:-1]):
            # The first connection's bytes all belong to the stream; a later one's from its first frame.
            first = first_frame(record)
            if n:
                joins.append(len(expected))
            expected += record[0 if n == 0 else first:whole_frames_end(record, first)]
        last = records[-1][first_frame(records[-1]):]
        joins.append(len(expected))
        # Right after a join, frames whose main data reached back into the other connection's are
        # made silent: only their CRC and side information differ from what was sent.
        sent_frames = expected + last
        data, rewritten = bytearray(data), 0
        for join in joins:
            at = join
            for _ in range(4):
                length = frame_length(data, at)
                if not length or at + length > min(len(data), len(sent_frames)) or data[at:at + length] == sent_frames[at:at + length]:
                    break
                if data[at + 38:at + length] == sent_frames[at + 38:at + length] and silent(data[at:at + length]):
                    data[at + 4:at + 38] = sent_frames[at + 4:at + 38]
                    rewritten += 1
                at += length
        data = bytes(data)
        c.check(rewritten <= 3 * len(joins), "a few frames made silent after each join: %d" % rewritten)
        same = next((i for i in range(min(len(data), len(expected))) if data[i] != expected[i]), None)
        c.check(data.startswith(expected) and last.startswith(data[len(expected):]) and len(data) > len(expected),
                "the file is the connections' whole frames joined, then the last one's: %d bytes, %d expected before "
                "the last connection's (%d connections), first difference at %s"
                % (len(data), len(expected), len(records), same))
        # Past its first frame, no partial frame anywhere: the tab's end may leave one at the very end.
        c.check(len(data) - whole_frames_end(data, first_frame(data)) < 1441, "frame follows frame to the file's end")
        decoded = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", files[0], "-f", "null", "-"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
        c.check(decoded.returncode == 0 and not decoded.stderr.strip(),
                "the file decodes without an error: %r" % decoded.stderr[:300])

    # The station goes away for good in the middle of a recording.
    with TestStation(lifetime=60) as station:
        new = station_goes_away(c, player, station, folder, 9)
        c.check(len(new) == 1 and len(read(new[0])) > 30000, "away: the file kept: %r" % new)
    c.check(player.close(), "the program ends")


if __name__ == "__main__":
    sys.exit(run(test))
