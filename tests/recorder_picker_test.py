"""The real folder picker, driven by real X input: Documents, then OK, and the recording lands there;
and a recording on a system whose short date holds "/" (English, code page 1252) gets a usable name."""
import glob
import os
import re
import sys
import time

from harness import wait_for
from pelradio import ENV, TestStation, click_at, window_origin
from recorder_support import RECORD_AT, read, recorder, recorder_connections, recordings, run, tail_offset

PICKER_CAPTION = "폴더 탐색"
DOCUMENTS_ITEM = (78, 127)
OK_BUTTON = (183, 319)


def test(c, work):
    sent = os.path.join(work, "sent")
    os.makedirs(sent)
    users = [d for d in glob.glob(os.path.join(ENV["WINEPREFIX"], "drive_c", "users", "*", "Documents"))
             if "/Public/" not in d]
    documents = os.path.realpath(users[0]) if users else work
    before = set(recordings(documents))
    made = []
    try:
        with TestStation("--record-sent", sent, lifetime=120):
            player = recorder(work, None)
            c.check(player.window is not None, "the window appears")
            player.tap(*RECORD_AT)
            picker = window_origin(PICKER_CAPTION, 20)
            c.check(picker is not None, "the record tab opens the folder picker")
            if picker is not None:
                time.sleep(1.0)  # the tree fills after the dialog shows
                c.check(player.state() == ([], False), "nothing shown while the picker is open")
                click_at(picker[0] + DOCUMENTS_ITEM[0], picker[1] + DOCUMENTS_ITEM[1])
                time.sleep(0.5)
                click_at(picker[0] + OK_BUTTON[0], picker[1] + OK_BUTTON[1])
                c.check(wait_for(lambda: window_origin(PICKER_CAPTION, 0) is None, 10), "the picker closes")
                c.check(player.wait_state([1], False, 5) or player.wait_state([], True, 1), "recording")
                time.sleep(3)
                player.tap(*RECORD_AT)
                c.check(player.wait_state([2], False), "banner 2 after the stop")
                made = sorted(set(recordings(documents)) - before)
                c.check(len(made) == 1, "the file is in Documents: %r" % [os.path.basename(m) for m in made])
                records = recorder_connections(sent)
                if made and records:
                    data = read(made[0])
                    c.check(len(data) > 0 and tail_offset(data, records[0]) >= 0,
                            "it holds %d bytes of the station's stream" % len(data))
            c.check(player.close(), "the program ends")

            # English locale: the short date is M/d/yyyy and the time h:mm:ss AM.
            folder = os.path.join(work, "english")
            os.makedirs(folder)
            player = recorder(work, folder, locale="en_US.UTF-8")
            c.check(player.window is not None, "the window appears under the English locale")
            player.tap(*RECORD_AT)
            time.sleep(2)
            player.tap(*RECORD_AT)
            c.check(player.wait_state([2], False), "English locale: banner 2 after the stop")
            files = [os.path.basename(f) for f in recordings(folder)]
            c.check(len(files) == 1 and re.fullmatch(r"PELLORA_\d{1,2}-\d{1,2}-\d{4}\d{1,2}-\d\d-\d\d-[AP]M\.mp3",
                                                     files[0]) is not None,
                    "English locale: the stamp's / and : and space become -: %r" % files)
            c.check(len(files) == 1 and os.path.getsize(os.path.join(folder, files[0])) > 0,
                    "English locale: the file holds the stream")
            c.check(player.close(), "the program ends")
    finally:
        for m in made:
            os.remove(m)


if __name__ == "__main__":
    sys.exit(run(test))
