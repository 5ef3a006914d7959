#!/usr/bin/env bash
# scripts/test-env.sh <command...>: runs the command with private services for the tests:
# a private HOME and XDG folders, a private D-Bus session with an unlocked gnome-keyring
# (Secret Service), and Qt on the offscreen platform. Everything is removed afterwards.
# Unless BREVALO_PIPEWIRE_TESTS=0, the command also runs against a private PipeWire +
# WirePlumber session (scripts/pipewire-session.sh) for the audio backend's integration tests.
set -euo pipefail
if [ "${BREVALO_TEST_ENV:-}" = "1" ]; then exec "$@"; fi

scratch=$(mktemp -d /tmp/brevalo-test-env.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/runtime" "$scratch/data" "$scratch/config" "$scratch/state" "$scratch/cache"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" XDG_DATA_HOME="$scratch/data"
export XDG_CONFIG_HOME="$scratch/config" XDG_STATE_HOME="$scratch/state" XDG_CACHE_HOME="$scratch/cache"
export QT_QPA_PLATFORM=offscreen BREVALO_TEST_ENV=1
export BREVALO_PIPEWIRE_SESSION_SCRIPT="$(cd "$(dirname "$0")" && pwd)/pipewire-session.sh"
unset DBUS_SESSION_BUS_ADDRESS

# Not exec: the scratch folder is removed by the EXIT trap once the session has ended.
status=0
dbus-run-session -- bash -c '
  # A password on stdin creates the login keyring unlocked, so it serves as the default
  # collection without a prompt. (An empty password makes the daemon ask a prompter, which
  # cannot show here, and leaves no default collection.) Throwaway: the keyring lives in the
  # scratch folder.
  eval "$(printf "brevalo-test" | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" || true
  eval "$(gnome-keyring-daemon --start --components=secrets 2>/dev/null)" || true
  export GNOME_KEYRING_CONTROL
  if [ "${BREVALO_PIPEWIRE_TESTS:-1}" != 0 ]; then
    exec "$BREVALO_PIPEWIRE_SESSION_SCRIPT" "$@"
  fi
  "$@"
' bash "$@" || status=$?
exit "$status"
