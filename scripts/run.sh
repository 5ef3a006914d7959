#!/usr/bin/env bash
# Builds the application and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DBREVALO_TESTS=OFF -DBREVALO_BENCH=OFF
exec "$root/build/src/app/brevalo-capture" "$@"
