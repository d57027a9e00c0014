"""Shared pieces of the HLS tests: the bundled station in its HLS mode, logging every request."""
import os
import threading

from harness import BUILD_DIR, Station

HLS_MEDIA = os.path.join(BUILD_DIR, "media", "hls")
FORMS = ("ts-aac", "ts-mp3", "packed-aac", "ts-id3", "fmp4", "aes", "aes-seq")
LEFT_HZ = 440
RIGHT_HZ = 660


class HlsStation(Station):
    """The station serving one form of the build's segments on a free loopback port; `paths`
    collects the path of every request, in order."""

    def __init__(self, form, *args, lifetime=60):
        super().__init__("--hls", form, "--hls-media", HLS_MEDIA, "--log-connections", *args, lifetime=lifetime)
        self.master = self.url + "live.m3u8"
        self.media = self.url + "audio.m3u8"
        self.paths = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith("HLS "):
                self.paths.append(line.split()[1])

    def fetched(self, path):
        return sum(1 for p in list(self.paths) if p == path)

    def segments(self):
        """Media sequence numbers of the segments asked for, in order."""
        found = []
        for path in list(self.paths):
            if path.startswith("/seg/"):
                number = path[len("/seg/"):].split(".")[0]
                if number.isdigit():
                    found.append(int(number))
        return found
