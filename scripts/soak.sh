#!/usr/bin/env bash
# scripts/soak.sh MINUTES: builds bench/soak.cpp and monitors in real time for that long on the
# private PipeWire session (scripts/test-env.sh) and on the demo hardware at once, recording a
# take of the demo input meanwhile, then prints the xruns after priming, the range of the drift
# readout, the take's length, the CPU share and the memory. Exits non-zero on any xrun after
# priming, an interrupted take or a memory growth over 10 %. Not part of the test command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:?usage: scripts/soak.sh MINUTES}
BREVALO_TARGET=brevalo_soak "$root/scripts/build.sh" "$root/build" -DBREVALO_BENCH=ON >/dev/null
exec "$root/scripts/test-env.sh" "$root/build/bench/brevalo_soak" "$minutes"
