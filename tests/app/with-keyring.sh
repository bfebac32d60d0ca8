#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus with a throw-away
# gnome-keyring-daemon (the Secret Service) on it, unlocked with a throw-away
# password; with --no-keyring, on a bus where no keyring answers at all. The
# user's own bus, keyring and home are never touched; everything is gone when
# the command ends.
#   with-keyring.sh [--keyring|--no-keyring] COMMAND [ARGS...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" = --inside-bus ]; then
    shift
    if [ "$POSTOWL_TEST_KEYRING" = running ]; then
        # --unlock reads the password from stdin and makes the login keyring
        # with it on first use; it becomes the default collection.
        printf '%s' "throw-away-$$" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
        for _ in $(seq 100); do
            if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
                org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
                grep -q 'boolean true'; then
                exec "$@"
            fi
            sleep 0.1
        done
        echo "gnome-keyring-daemon did not come up on the private bus" >&2
        exit 1
    fi
    exec "$@"
fi

export POSTOWL_TEST_KEYRING=running
case "${1:-}" in
--keyring) shift ;;
--no-keyring) POSTOWL_TEST_KEYRING=absent; shift ;;
esac

scratch=$(mktemp -d "${TMPDIR:-/tmp}/postowl-keyring.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config \
    XDG_CACHE_HOME=$scratch/cache XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
# dbus-daemon warns that it may not raise its file limit; that is harmless.
dbus-run-session --config-file="$here/private-bus.conf" -- "$here/with-keyring.sh" --inside-bus "$@" \
    2> >(grep -v 'Failed to set fd limit' >&2)
