#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs, builds both targets, runs every test under Wine.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
"$TOP/tools/build.sh" all
cd "$TOP/build/x86_64"
ctest --output-on-failure --timeout 600
