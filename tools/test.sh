#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs, builds both targets, runs each target's suite under Wine.
set -uo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$TOP/build"
"$TOP/tools/setup-deps.sh" "$TOP/build/deps" || exit 1
# The 32-bit root downloads and unpacks while the compilers work (apt is done with the host by then);
# it is waited for before its suite.
"$TOP/tools/i686-root.sh" prepare >"$TOP/build/i686-root.log" 2>&1 &
root_job=$!
"$TOP/tools/build.sh" all || exit 1

# The two suites run side by side, each with its own prefix, sound server, display and loopback:
# the x86_64 suite mostly waits on real time (about half a core), and the emulated one, at the
# lowest priority, takes what the other leaves without slowing its real-time checks.
started=$SECONDS
(cd "$TOP/build/x86_64" && ctest --output-on-failure --timeout 600) >"$TOP/build/x86_64-suite.log" 2>&1 &
x86_64_job=$!
i686_job=
if wait "$root_job"; then
  # Starved beside the other suite, an emulated test now and then overruns a limit or stalls
  # (one in a run of 79, a different one each time): such a test runs once more, and the log
  # keeps both attempts.
  nice -n 19 "$TOP/tools/i686-root.sh" run ctest --test-dir "$TOP/build/i686" --output-on-failure --timeout 600 \
    --repeat until-pass:2 >"$TOP/build/i686-suite.log" 2>&1 &
  i686_job=$!
else
  { cat "$TOP/build/i686-root.log"; echo "i686 suite: its root could not be made"; } >"$TOP/build/i686-suite.log"
fi

wait "$x86_64_job"
x86_64=$?
echo "=============== x86_64 suite: $((SECONDS - started)) s ==============="
cat "$TOP/build/x86_64-suite.log"
i686=1
if [ -n "$i686_job" ]; then
  wait "$i686_job"
  i686=$?
fi
echo "=============== i686 suite (32-bit Wine; under qemu-i386 where this machine runs no 32-bit code): $((SECONDS - started)) s ==============="
cat "$TOP/build/i686-suite.log"

echo "=============== x86_64 suite: $([ $x86_64 = 0 ] && echo passed || echo FAILED); i686 suite: $([ $i686 = 0 ] && echo passed || echo FAILED) ==============="
[ $x86_64 = 0 ] && [ $i686 = 0 ]
