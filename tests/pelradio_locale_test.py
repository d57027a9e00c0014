"""pelradio on a system whose code page is not Korean (English, 1252): the station's title page, written
in code page 949 without a declaration, still fills the label with the song now playing."""
import sys

from harness import Checks, wait_for
from pelradio import Player, TestStation, label_is_empty


def main():
    c = Checks()
    with TestStation(lifetime=60):
        player = Player(locale="en_US.UTF-8")
        c.check(wait_for(lambda: not label_is_empty(player.label()), 15),
                "the label shows the title under the English code page")
        c.check(player.close(), "the program ends")
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
