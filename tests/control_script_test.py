"""The control in Wine's script host: cscript creates it by ProgID and drives its properties and methods."""
import os
import subprocess

from harness import Checks, SOURCE_DIR, WINE_RUN


def main():
    c = Checks()
    # cscript wants a Windows path; drive Z: is the Unix root.
    script = "Z:" + os.path.join(SOURCE_DIR, "tests", "control_script.vbs").replace("/", "\\")
    done = subprocess.run([WINE_RUN, "cscript", "//nologo", script], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=120)
    lines = done.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
    print("\n".join(lines))
    c.check(done.returncode == 0, "cscript exits 0")
    c.check("url http://127.0.0.1:9/radio" in lines, "url reads back what was set")
    c.check("volume Integer" in lines, "volume reads as a 16-bit integer")
    c.check("url after play http://127.0.0.1:9/radio" in lines, "one entry stays the url after Play")
    c.check("buffer 0" in lines, "getBufferState is 0 when nothing was buffered")
    c.check(lines.count("metadata []") == 2, "metadata is empty, and writing it changes nothing")
    c.check(lines[-1:] == ["done"], "the script runs to its end")
    return c.finish()


if __name__ == "__main__":
    raise SystemExit(main())
