#!/usr/bin/env bash
# scripts/build.sh <build-dir> [cmake options...]: configure (once) and build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" "$@" >/dev/null
else
  cmake -S "$root" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" --parallel "$(nproc)"
