"""A playlist from the bundled station: fetched and parsed on Windows, its entries then played."""
import os
import sys

from harness import Checks, Station, run_windows

FETCH_TEST = os.path.join("tests", "http_fetch_test.exe")
ICYCAT = os.path.join("tools", "icycat.exe")


def main():
    c = Checks()
    with Station("--pls", "--title-seconds", "1") as station:
        os.environ["KEL_STATION_URL"] = station.url
        code, lines = run_windows(FETCH_TEST, "--gtest_filter=StationPlaylist.*")
        c.check(code == 0, "the playlist test passes under Wine")
        c.check(any("[  PASSED  ] 1 test" in l for l in lines), "the playlist test ran rather than skipped")
        entries = [l[len("ENTRY "):] for l in lines if l.startswith("ENTRY ")]
        c.check(entries == [station.url, station.url + "live"], "both entries arrive in order: %r" % entries)
        for entry in entries[1:]:
            code, lines = run_windows(ICYCAT, entry, "--seconds", "3")
            c.check("METADATA Pellora Local" in lines, "the entry %s plays the station" % entry)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
