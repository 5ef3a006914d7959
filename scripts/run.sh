#!/usr/bin/env bash
# Builds the application and starts it. It monitors through PipeWire when a PipeWire server is
# reachable, and on the simulated demo hardware ("Virtual Turntable") otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
BREVALO_TARGET=brevalo-capture "$root/scripts/build.sh" "$root/build"
exec "$root/build/src/app/brevalo-capture" "$@"
