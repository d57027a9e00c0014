"""The recorder looks its host up without freezing the window: pelradio built for the station "radio.test",
whose name server takes 3 s to answer, still follows a drag within a second while the recorder waits,
and then records."""
# The whole test runs in network and mount namespaces of its own (name_namespace.py): only loopback,
# a stub name server that answers "radio.test" with 127.0.0.1 after 3 s, and a Wine prefix overlay
# with its own wineserver. Nothing is looked up outside.
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

LOOKUP_SECONDS = 3.0


def inner():
    from harness import BUILD_DIR, wait_for
    from pelradio import TITLE_STRIP, TestStation, xdo
    from recorder_support import RECORD_AT, recorder_connections, recordings, recorder, run

    named = os.path.join(BUILD_DIR, "player", "pelradio_named.exe")

    def test(c, work):
        folder = os.path.join(work, "records")
        sent = os.path.join(work, "sent")
        os.makedirs(folder)
        os.makedirs(sent)
        with TestStation("--record-sent", sent, lifetime=90) as station:
            player = recorder(work, folder, exe=named)
            c.check(player.window is not None, "the window appears")
            c.check(wait_for(lambda: station.opened() >= 1, 20), "the control plays the station by its name")
            x, y, _, _ = player.geometry()
            player.tap(*RECORD_AT)
            time.sleep(0.3)
            # A drag on the title strip while the recorder's lookup waits for its answer.
            player.press(100, TITLE_STRIP[3] // 2)
            moved_at = None
            asked = time.monotonic()
            xdo("mousemove", x + 140, y + 42)
            while time.monotonic() - asked < LOOKUP_SECONDS:
                if player.geometry()[:2] != (x, y):
                    moved_at = time.monotonic()
                    break
                time.sleep(0.05)
            player.release()
            c.check(moved_at is not None and moved_at - asked < 1.0,
                    "the window follows a drag within 1 s during the lookup: %s"
                    % ("%.2f s" % (moved_at - asked) if moved_at else "not within %.0f s" % LOOKUP_SECONDS))
            c.check(wait_for(lambda: recorder_connections(sent), 10), "then the recorder connects to the station")
            time.sleep(2)
            player.tap(*RECORD_AT)
            c.check(wait_for(lambda: recordings(folder) and os.path.getsize(recordings(folder)[0]) > 0, 5),
                    "and records: %r" % recordings(folder))
            player.close()

    return run(test)


def main():
    from harness import Checks
    from name_namespace import run_in_name_namespace
    from pelradio import ENV

    env = dict(os.environ, WINEPREFIX=ENV["WINEPREFIX"])
    rc, out, err, queries = run_in_name_namespace([sys.executable, os.path.abspath(__file__), "--inner"],
                                                  names={"radio.test": "127.0.0.1"},
                                                  slow={"radio.test": LOOKUP_SECONDS}, timeout=150, env=env)
    sys.stdout.write(out)
    c = Checks()
    c.check(rc == 0, "the test in its namespaces passed (exit %d)" % rc)
    c.check(any(name == "radio.test" for name, _ in queries), "radio.test was looked up there: %r" % queries[:4])
    return c.finish()


if __name__ == "__main__":
    sys.exit(inner() if sys.argv[1:] == ["--inner"] else main())
