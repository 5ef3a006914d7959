#!/usr/bin/env bash
# scripts/pipewire-session.sh <command...>: runs the command against a private PipeWire daemon
# and WirePlumber session manager, then stops both and removes their folders.
#
# The daemons live in a private XDG_RUNTIME_DIR (the command's clients find the socket
# "pipewire-0" there through PIPEWIRE_RUNTIME_DIR), with a private HOME, XDG_STATE_HOME and
# XDG_CONFIG_HOME so that WirePlumber neither reads nor writes the user's saved stream volumes and
# default devices. WirePlumber gets a
# configuration that switches off what needs a desktop session (device reservation, the portal,
# camera and bluetooth monitors), so it also runs without D-Bus. The allowed clock rates include
# every rate the tests use, so that their nodes run at their own rate instead of being resampled.
#
# The command's exit status is this script's. When the daemon does not come up, the command
# still runs (with BREVALO_PIPEWIRE_SESSION=0) so that tests can report the missing daemon.
#
# A test that restarts the server finds this script in BREVALO_PIPEWIRE_CONTROL and runs it with
# --stop (ends both daemons, as a user restarting the server would) or --start (starts them
# again in the same private folders and waits until they are ready; status 1 when they are not).
set -uo pipefail


# Daemons are found through pid files, since one started by --start is not this shell's child
# (it may stay a zombie for a while, which counts as gone). Each gets a bounded wait after
# SIGTERM, then SIGKILL.
stop_daemons() {
  local name pid state
  for name in wireplumber pipewire; do
    pid=$(cat "$scratch/$name.pid" 2>/dev/null) || continue
    kill "$pid" 2>/dev/null
    for _ in $(seq 100); do
      state=$(ps -o stat= -p "$pid" 2>/dev/null) || break
      [ "${state:0:1}" = Z ] && break
      sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null
    rm -f "$scratch/$name.pid"
  done
}

# Sets ready=1 once WirePlumber has published the "default" metadata object.
start_daemons() {
  # Only the daemons get the private folders; the command keeps its own HOME and XDG folders and
  # finds the daemon's socket through PIPEWIRE_RUNTIME_DIR. (env execs the daemon, so $! is its
  # pid.)
  local daemon_env=(env XDG_RUNTIME_DIR="$scratch/runtime" XDG_STATE_HOME="$scratch/state"
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" PIPEWIRE_RUNTIME_DIR="$scratch/runtime")
  ready=0
  rm -f "$scratch/runtime/pipewire-0" "$scratch/runtime/pipewire-0.lock"
  # No descriptor of the caller's stays open in the daemons (a test runner waits for its pipes).
  "${daemon_env[@]}" pipewire </dev/null >>"$log" 2>&1 &
  echo $! >"$scratch/pipewire.pid"
  # The socket appears once the daemon listens; a bounded wait, never a hang.
  for _ in $(seq 50); do
    [ -S "$scratch/runtime/pipewire-0" ] && break
    sleep 0.1
  done
  [ -S "$scratch/runtime/pipewire-0" ] || return 0
  "${daemon_env[@]}" wireplumber </dev/null >>"$log" 2>&1 &
  echo $! >"$scratch/wireplumber.pid"
  for _ in $(seq 50); do
    if PIPEWIRE_RUNTIME_DIR="$scratch/runtime" timeout 2 pw-cli ls Metadata 2>/dev/null |
      grep -q '"default"'; then
      ready=1
      return 0
    fi
    sleep 0.1
  done
}

if [ "${1:-}" = --stop ] || [ "${1:-}" = --start ]; then
  scratch="${BREVALO_PIPEWIRE_SCRATCH:?not inside a private PipeWire session}"
  log="${BREVALO_PIPEWIRE_LOG:-$scratch/daemon.log}"
  stop_daemons
  [ "$1" = --stop ] && exit 0
  start_daemons
  [ "$ready" = 1 ]
  exit
fi

scratch=$(mktemp -d /tmp/brevalo-pipewire.XXXXXX)
mkdir -p "$scratch/runtime" "$scratch/home" "$scratch/state" "$scratch/config/wireplumber/main.lua.d" \
  "$scratch/config/wireplumber/bluetooth.lua.d" "$scratch/config/pipewire/pipewire.conf.d"
chmod 700 "$scratch/runtime"

cleanup() {
  stop_daemons
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Sorts before 90-enable-all, which calls the enable functions that read these switches.
cat >"$scratch/config/wireplumber/main.lua.d/80-brevalo-private.lua" <<'EOF'
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
stream_defaults.properties["restore-props"] = false
stream_defaults.properties["restore-target"] = false
EOF
cat >"$scratch/config/wireplumber/bluetooth.lua.d/80-brevalo-private.lua" <<'EOF'
bluez_monitor.enabled = false
EOF
# BREVALO_PIPEWIRE_ALLOWED_RATES="48000" gives a daemon like a stock desktop's, whose graph
# resamples every device that runs at another rate.
rates="${BREVALO_PIPEWIRE_ALLOWED_RATES:-44100 48000 88200 96000 176400 192000}"
cat >"$scratch/config/pipewire/pipewire.conf.d/80-brevalo-rates.conf" <<EOF
context.properties = {
    default.clock.rate          = 48000
    default.clock.allowed-rates = [ $rates ]
}
EOF

export PIPEWIRE_RUNTIME_DIR="$scratch/runtime"
unset PIPEWIRE_REMOTE
log="${BREVALO_PIPEWIRE_LOG:-$scratch/daemon.log}"
start_daemons
if [ "$ready" = 1 ]; then
  export BREVALO_PIPEWIRE_SESSION=1
  export BREVALO_PIPEWIRE_SCRATCH="$scratch"
  BREVALO_PIPEWIRE_CONTROL="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
  export BREVALO_PIPEWIRE_CONTROL
else
  echo "pipewire-session: the private PipeWire session did not start; log:" >&2
  cat "$log" >&2 2>/dev/null || true
  export BREVALO_PIPEWIRE_SESSION=0
fi

"$@"
status=$?
exit "$status"
