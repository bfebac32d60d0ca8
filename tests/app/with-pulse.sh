#!/usr/bin/env bash
# Runs a command with a private PulseAudio whose only sink is a null sink,
# reached through POSTOWL_TEST_PULSE_SERVER. The user's own sound server is
# never used; the server and its files are gone when the command ends.
#   with-pulse.sh COMMAND [ARGS...]
set -euo pipefail

scratch=$(mktemp -d "${TMPDIR:-/tmp}/postowl-pulse.XXXXXX")
pulse=
cleanup() {
    [ -n "$pulse" ] && kill "$pulse" 2>/dev/null && wait "$pulse" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
mkdir -m 0700 "$XDG_RUNTIME_DIR"
socket=$XDG_RUNTIME_DIR/native
# As root it warns that it is not meant to run so; its log is shown only when
# it does not come up.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
    -L "module-null-sink sink_name=postowl-null" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$socket" >"$scratch/log" 2>&1 &
pulse=$!
for _ in $(seq 100); do
    if PULSE_SERVER=unix:$socket pactl info >/dev/null 2>&1; then
        POSTOWL_TEST_PULSE_SERVER=unix:$socket "$@"
        exit
    fi
    sleep 0.1
done
echo "the private PulseAudio did not come up:" >&2
cat "$scratch/log" >&2
exit 1
