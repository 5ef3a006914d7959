#!/usr/bin/env bash
# scripts/build.sh <build-dir> [cmake options...]: configure and build everything.
# BREVALO_TARGET=<target> builds only that target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
# Let ccache share results between clones of the repository (CI builds in a fresh clone).
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
generator=()
if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$root" -B "$dir" "${generator[@]}" "$@" >/dev/null
target=()
if [ -n "${BREVALO_TARGET:-}" ]; then target=(--target "$BREVALO_TARGET"); fi
cmake --build "$dir" --parallel "$(nproc)" "${target[@]}"
