#!/usr/bin/env bash
# The tovrikctl service unit passes systemd-analyze verify, run against this build's tovrikctl
# and man page (verify checks both exist), and keeps the settings the service depends on.
set -euo pipefail
unit=$1 tovrikctl=$2 man=$3
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/man/man1"
cp "$man" "$work/man/man1/"
sed "s#/usr/bin/tovrikctl#$tovrikctl#" "$unit" >"$work/tovrikctl.service"
MANPATH=$work/man systemd-analyze verify "$work/tovrikctl.service"
for setting in AmbientCapabilities=CAP_NET_BIND_SERVICE User=tovrik NoNewPrivileges=yes \
    ProtectSystem=strict PrivateTmp=yes Restart=on-failure 'DeviceAllow=char-hidraw rw'; do
    grep -qx "$setting" "$unit" || { echo "the unit lacks $setting"; exit 1; }
done
echo "tovrikctl.service verified"
