"""A playlist from the bundled station: fetched and parsed on Windows, its entries then played."""
import os
import sys
import tempfile

from harness import Checks, Station, run_windows
from hls_support import HlsStation

FETCH_TEST = os.path.join("tests", "http_fetch_test.exe")
ICYCAT = os.path.join("tools", "icycat.exe")
KELPLAY = os.path.join("tools", "kelplay.exe")


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
    # Lists as stations publish them, through the control: an M3U list of relative entries, and a
    # PLS address with a query. Read as lists, they lead to the station's "/" (their first entry).
    # So are addresses without an extension whose answer's Content-Type says it is a list.
    for path in ("listen.m3u", "listen.pls?sid=1", "playlist", "playlist-m3u"):
        with tempfile.TemporaryDirectory() as sent, Station("--pls", "--record-sent", sent) as station:
            code, lines = run_windows(KELPLAY, station.url + path, "--seconds", "3")
            c.check("ChangeMetadata Pellora Local" in lines, "the list %s plays the station: %r" % (path, lines[:3]))
            requests = []
            for name in sorted(f for f in os.listdir(sent) if f.endswith(".request")):
                with open(os.path.join(sent, name), "rb") as f:
                    requests.append(f.read().split(b"\r\n", 1)[0].decode())
            c.check(requests[:2] == ["GET /%s HTTP/1.0" % path, "GET / HTTP/1.0"],
                    "%s is fetched as a list, then its first entry played: %r" % (path, requests[:2]))
    # An HLS list is one station in segments, not a list of stations: whether the control fetches it
    # (.m3u8) or the address answers with one, its entries are never played as stations (the stream
    # reader's requests, the ones asking for titles, go to the list alone).
    for path in ("hls.m3u8", "hls"):
        with tempfile.TemporaryDirectory() as sent, Station("--pls", "--record-sent", sent) as station:
            code, lines = run_windows(KELPLAY, station.url + path, "--seconds", "3")
            requests = []
            for name in sorted(f for f in os.listdir(sent) if f.endswith(".request")):
                with open(os.path.join(sent, name), "rb") as f:
                    requests.append(f.read().decode("latin-1"))
            played = [r.split("\r\n", 1)[0] for r in requests if "Icy-MetaData" in r]
            c.check(played and all(r == "GET /%s HTTP/1.0" % path for r in played),
                    "no entry of %s is played as a station: %r" % (path, played))
    # A real HLS station through the control: its master list's address plays it.
    with HlsStation("ts-aac") as station:
        code, lines = run_windows(KELPLAY, station.master, "--seconds", "8")
        c.check("ChangeMetadata Pellora HLS" in lines and station.segments(),
                "the HLS station plays through the control: %r, segments %s" % (lines[:3], station.segments()))
    # A list that names itself is followed twice, then no more: a few paced attempts, no flood.
    with tempfile.TemporaryDirectory() as sent, Station("--pls", "--record-sent", sent) as station:
        code, lines = run_windows(KELPLAY, station.url + "loop", "--seconds", "4")
        requests = [f for f in os.listdir(sent) if f.endswith(".request")]
        c.check(3 <= len(requests) <= 10, "a list of itself is not followed endlessly: %d requests in 4 s" % len(requests))
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
