#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# keyring_session.sh SESSION COMMAND...: runs COMMAND in a temporary home folder against a
# gnome-keyring of its own on a private session bus, unlocked (password "pw") or locked (made,
# then restarted without unlocking: unlocking takes a prompt, which fails without a display),
# or with no session bus at all (none). COMMAND finds SESSION in POSTLARK_KEYRING_SESSION.
set -u
session=$1
shift

# Starts the daemon on the session bus (unlocked when given "pw") and waits for its name.
start_daemon() {
    if [ $# -gt 0 ]; then
        printf %s "$1" | gnome-keyring-daemon --foreground --unlock --components=secrets \
            >/dev/null 2>&1 &
    else
        gnome-keyring-daemon --foreground --components=secrets </dev/null >/dev/null 2>&1 &
    fi
    daemon=$!
    gdbus wait --session --timeout 10 org.freedesktop.secrets
}

if [ "$session" = inside ]; then
    session=$1
    shift
    start_daemon pw || exit 1
    if [ "$session" = locked ]; then
        printf seed | secret-tool store --label=seed seed seed || exit 1
        kill "$daemon"
        wait "$daemon"
        start_daemon || exit 1
    fi
    "$@"
    status=$?
    kill "$daemon"
    wait "$daemon"
    exit $status
fi

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/share" XDG_CONFIG_HOME="$home/config" \
    XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run" POSTLARK_KEYRING_SESSION="$session"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
case "$session" in
none) DBUS_SESSION_BUS_ADDRESS="unix:path=$home/no-bus" "$@" ;;
unlocked | locked) dbus-run-session -- sh "$0" inside "$session" "$@" ;;
*)
    echo "keyring_session.sh: unknown session $session" >&2
    exit 2
    ;;
esac
