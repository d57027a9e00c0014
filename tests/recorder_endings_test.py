"""How recordings end against stations that misbehave: no station (refused), an ICY or HTTP 404,
a station that closes before any audio, one that never gets a whole frame out before it closes, a header that never
ends, a silent one stopped by the tab, an HTTP/1.0 200 station and AAC stations that record fine (as .aac, also when
only the frames tell, a few bytes at a time); and a cancelled folder picker that changes nothing. (Stations that
close after their audio came: recorder_reconnect_test.)"""
import os
import shutil
import sys
import time

from harness import BUILD_DIR, wait_for
from pelradio import TestStation
from recorder_support import RECORD_AT, read, recorder, recorder_connections, recordings, run, tail_offset


class Trial:
    """One recording against whatever listens on the station's port, with the banner it ends with."""

    def __init__(self, c, player, folder):
        self.c, self.player, self.folder = c, player, folder
        self.beeps = player.beeps()

    def run(self, what, banner, stop_after=None, seconds=10):
        """Starts a recording; stops it with the tab after stop_after seconds, or waits for it to end
        by itself. Returns the new file's bytes (None when there is no new file)."""
        c, player = self.c, self.player
        before = set(recordings(self.folder))
        player.tap(*RECORD_AT)
        if stop_after is not None:
            time.sleep(stop_after)
            c.check(player.state()[0] in ([1], []), "%s: still recording before the tab stops it" % what)
            player.tap(*RECORD_AT)
        c.check(player.wait_state([banner], False, seconds=seconds),
                "%s: banner %d, the lamp hidden: %r" % (what, banner, player.state()))
        self.beeps += 1
        c.check(wait_for(lambda: player.beeps() == self.beeps, 5), "%s: one beep" % what)
        time.sleep(1.2)
        state = player.state()
        c.check(state == ([banner], False), "%s: no more blinking afterwards: %r" % (what, state))
        new = sorted(set(recordings(self.folder)) - before)
        c.check(len(new) <= 1, "%s: at most one new file" % what)
        self.name = os.path.basename(new[0]) if new else None
        return read(new[0]) if new else None


def test(c, work):
    folder = os.path.join(work, "records")
    sent = os.path.join(work, "sent")
    os.makedirs(folder)
    player = recorder(work, folder)
    c.check(player.window is not None, "the window appears")
    trial = Trial(c, player, folder)

    data = trial.run("no station: refused", 3)
    c.check(not data, "refused: the file stays empty")

    for name, args in (("ICY 404", ("--icy-status", "--status", "404 Not Found")),
                       ("HTTP 404", ("--status", "404 Not Found"))):
        with TestStation(*args, lifetime=30):
            data = trial.run(name, 3)
            c.check(not data, "%s: nothing written" % name)

    with TestStation("--header-only", lifetime=30):
        data = trial.run("closed before audio was written", 3)
        c.check(not data, "closed early: nothing written")
    # Ten bytes are the start of a frame that never ends: the recorder connects again and again,
    # drops each partial frame at its cut, and gives up once no whole frame has come for 10 s.
    with TestStation("--close-after", "10", "--metaint", "0", lifetime=40):
        data = trial.run("closed after ten bytes at every connection", 3, seconds=20)
        c.check(data == b"", "ten bytes at every connection: no whole frame, nothing written: %r" % data)

    # An answer whose header never ends ends the recording: past 64 KiB, or after 10 s.
    with TestStation("--oversized-header", "--endless-header", lifetime=30):
        data = trial.run("a header that goes on past 64 KiB", 3)
        c.check(not data, "a header past 64 KiB: nothing written")
    with TestStation("--oversized-header", lifetime=30):
        data = trial.run("a header that stops short of its end", 3, seconds=14)
        c.check(not data, "a header without an end for 10 s: nothing written")

    with TestStation("--silence", lifetime=30):
        data = trial.run("stopped before any answer", 2, stop_after=1.5)
        c.check(data == b"", "stopped before any answer: an empty file")

    for name, args in (("HTTP/1.0 200 station", ("--http",)),
                       ("AAC station", ("--aac", os.path.join(BUILD_DIR, "media", "station.aac"))),
                       # Its first audio comes in pieces shorter than a frame, and no label says AAC:
                       # the frames must tell, once enough of them are in.
                       ("unlabelled AAC station, its first audio in small pieces",
                        ("--aac", os.path.join(BUILD_DIR, "media", "station.aac"), "--content-type", "none",
                         "--trickle", "1000"))):
        shutil.rmtree(sent, ignore_errors=True)
        os.makedirs(sent)
        with TestStation("--record-sent", sent, *args, lifetime=30):
            data = trial.run(name, 2, stop_after=3)
            suffix = ".aac" if "--aac" in args else ".mp3"
            c.check(trial.name is not None and trial.name.endswith(suffix), "%s: a %s file: %s" % (name, suffix, trial.name))
            records = recorder_connections(sent)
            c.check(len(records) == 1, "%s: one recorder connection" % name)
            if records and data:
                offset = tail_offset(data, records[0])
                c.check(offset >= 0 and len(data) > 10000,
                        "%s: %d bytes, one contiguous piece of what was sent, at %d" % (name, len(data), offset))
                if "--trickle" in args:
                    c.check(records[0].startswith(data), "%s: every byte after the header, from the first" % name)
            else:
                c.check(False, "%s: a file with the stream" % name)
    c.check(player.close(), "the program ends")

    # A cancelled picker: no change, no banner, no beep, no connection.
    shutil.rmtree(sent, ignore_errors=True)
    os.makedirs(sent)
    with TestStation("--record-sent", sent, lifetime=40):
        player = recorder(work, "")
        beeps = player.beeps()
        files = recordings(folder)
        time.sleep(1)
        c.check(player.state() == ([], False), "before the cancelled pick: no banner, no lamp")
        player.tap(*RECORD_AT)
        time.sleep(2)
        c.check(player.state() == ([], False), "cancelled: no banner, no lamp")
        player.tap(*RECORD_AT)
        time.sleep(1.5)
        c.check(player.state() == ([], False), "cancelled again: still nothing shown")
        c.check(player.beeps() == beeps, "cancelled: no beep")
        c.check(recordings(folder) == files, "cancelled: no file")
        c.check(recorder_connections(sent) == [], "cancelled: no connection to the station")
        c.check(player.close(), "the program ends")


if __name__ == "__main__":
    sys.exit(run(test))
