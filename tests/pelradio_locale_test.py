"""pelradio on systems whose code page is not Korean: English (1252), and UTF-8 (65001, which a
program's manifest asks Wine for). The station's title page, in code page 949 without a declaration
or declared as euc-kr or ks_c_5601-1987, fills the label with the same title as its UTF-8 form."""
import shutil
import sys
import tempfile

from harness import Checks, utf8_copy, wait_for
from pelradio import MARKER, PELRADIO, Player, TitleSite, label_is_empty, title_page

FIRST = "<td>" + MARKER + "펠로라 - 저녁의 노래</td>"
SECOND = "<td>" + MARKER + "노래 - 가수</td>"
# One page per fetch; the first is the reference, the rest must show what it (or the second) showed.
CASES = [
    ((title_page(FIRST, "utf-8"), "text/html; charset=UTF-8"), "first"),
    (title_page(SECOND), "second"),
    ((title_page(FIRST, "cp949"), "text/html; charset=euc-kr"), "first"),
    (title_page(SECOND, "cp949", '<meta http-equiv="Content-Type" content="text/html; charset=ks_c_5601-1987">'),
     "second"),
]
def check_labels(c, exe, system):
    site = TitleSite(CASES, lifetime=len(CASES) * 10 + 30)
    player = Player(exe=exe, locale="en_US.UTF-8")
    seen = {}
    for index, (_, name) in enumerate(CASES):
        # The label changes once the fetch that came has been answered and read.
        c.check(wait_for(lambda: len(site.requests) > index, 15), "%s: fetch %d came" % (system, index))
        if name in seen:
            ok = wait_for(lambda: player.label() == seen[name], 5)
        else:
            ok = wait_for(lambda: not label_is_empty(player.label()) and player.label() not in seen.values(), 5)
            seen[name] = player.label()
        c.check(ok, "%s: page %d shows the %s title" % (system, index, name))
    c.check(player.close(), "%s: the program ends" % system)
    site.close()


def main():
    c = Checks()
    check_labels(c, PELRADIO, "code page 1252")
    folder = tempfile.mkdtemp(prefix="pelradio-utf8-")
    try:
        check_labels(c, utf8_copy(PELRADIO, folder), "code page 65001")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
