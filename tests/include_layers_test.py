#!/usr/bin/env python3
"""The engine's folders and the audio output include only their own layer and those below it."""
import os
import re
import sys

# Lowest first; a file may include its own layer and any earlier one.
LAYERS = ["engine/report", "engine/net", "engine/playlist", "engine/frame", "engine/hls", "engine/stream", "engine/decode", "audio",
          "engine/worker"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    for rank, folder in enumerate(LAYERS):
        if path.startswith(folder + "/"):
            return rank
    return None


def main():
    top = os.environ.get("SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults = []
    checked = 0
    for folder in LAYERS:
        for name in sorted(os.listdir(os.path.join(top, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            path = folder + "/" + name
            own = layer_of(path)
            with open(os.path.join(top, path), encoding="utf-8") as source:
                for target in INCLUDE.findall(source.read()):
                    checked += 1
                    if "/" not in target:
                        faults.append("%s: \"%s\" names no folder" % (path, target))
                        continue
                    rank = layer_of(target)
                    if rank is None and target.startswith(("engine/", "audio/", "control/", "host/", "player/")):
                        faults.append("%s: includes %s, outside the engine's layers" % (path, target))
                    elif rank is not None and rank > own:
                        faults.append("%s: includes %s from a layer above it" % (path, target))
    for fault in faults:
        print(fault)
    print("%d includes checked" % checked)
    if checked == 0:
        print("no includes found: wrong source folder?")
        return 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
