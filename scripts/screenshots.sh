#!/usr/bin/env bash
# scripts/screenshots.sh [FOLDER]: refreshes the README's pictures of the two windows (default
# docs/). Builds the application and runs it on a virtual X display with --screenshots: on the
# demo hardware it monitors, creates a project, records a side for a quarter of a minute, places two
# boundaries and saves each window. Not part of the test command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs}
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
BREVALO_TARGET=brevalo-capture "$root/scripts/build.sh" "$root/build" >/dev/null
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 1440x900x24" env QT_QPA_PLATFORM=xcb \
  "$root/build/src/app/brevalo-capture" --screenshots "$out"
