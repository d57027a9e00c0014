"""pelradio's now-playing label, fed by a title page this test serves: the marker and end-mark
rules, failures, and a slow fetch that the 10-second timer must not start twice."""
import sys
import time

from harness import Checks, wait_for
from pelradio import MARKER, SLOW_SECONDS, Player, TitleSite, label_is_empty, title_page as page

KOREAN = "<td>" + MARKER + "노래 - 가수</td>"


# One answer per fetch, in order: (what is served, what the label must then show).
CASES = [
    (page("<td>" + MARKER + "ONE</td>"), "ONE"),
    (page("<td>" + MARKER + "TWO</td>"), "TWO"),
    (page("<td>" + MARKER + "ONE</td><td>" + MARKER + "TWO</td>"), "ONE"),
    (page("<td>" + MARKER + "</td>"), ""),
    (("<p>" + MARKER + "ONE\r\nTWO").encode("cp949"), "ONE"),  # no end mark; the line break stays
    (page("<td>" + MARKER.replace("nbsp", "NBSP") + "TWO</td>"), ""),
    (("<p>" + MARKER + "TWO").encode("cp949"), "TWO"),
    (page("<td>" + MARKER.replace("&nbsp;", " ") + "ONE</td>"), ""),
    (page("<td>" + MARKER + "ONE</td>"), "ONE"),
    (None, ""),  # the page is not there
    (page(KOREAN), "KOREAN"),
    ((page(KOREAN, "utf-8"), "text/html; charset=UTF-8"), "KOREAN"),
    (page("<td>" + MARKER + "ONE</td>"), "ONE"),
    (page(KOREAN, "utf-8", '<meta http-equiv="Content-Type" content="text/html; charset=utf-8">'), "KOREAN"),
    (page(KOREAN, "utf-8"), ""),  # UTF-8 that nothing declares is read as the system's code page
    ("slow", "TWO"),
]


def main():
    c = Checks()
    site = TitleSite(CASES, lifetime=len(CASES) * 10 + 40)
    player = Player()
    seen = {}
    for index, (_, expected) in enumerate(CASES):
        c.check(wait_for(lambda: len(site.requests) > index, 15), "fetch %d came" % index)
        if CASES[index][0] == "slow":
            time.sleep(SLOW_SECONDS - 1)
            c.check(len(site.requests) == index + 1,
                    "a tick during a slow fetch starts no second fetch: %d requests" % len(site.requests))
        if expected == "":
            ok = wait_for(lambda: label_is_empty(player.label()), 4)
        elif expected in seen:
            ok = wait_for(lambda: player.label() == seen[expected], SLOW_SECONDS + 4)
        else:
            ok = wait_for(lambda: not label_is_empty(player.label()) and player.label() not in seen.values(), 4)
            seen[expected] = player.label()
        c.check(ok, "page %d shows %r in the label" % (index, expected or "nothing"))
    gaps = [b - a for a, b in zip(site.requests, site.requests[1:])]
    c.check(all(8.5 < g < 11.5 for g in gaps[:len(CASES) - 1]), "one fetch every 10 s: %s" % ["%.1f" % g for g in gaps])
    player.close()
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
