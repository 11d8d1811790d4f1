#!/usr/bin/env bash
# A TOVRIK that is present but refused: the window says only "TOVRIK 未検出", standard error
# says which device and why. Runs TOVRIK offscreen inside tovrik-emu --devices o,t.
# Usage: refusal_reason.sh TOVRIK TOVRIK_EMU held|denied
set -euo pipefail
tovrik=$1 emu=$2 mode=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs inside the test bed: make hidraw1 unusable, then start TOVRIK for a few seconds.
cat >"$work/inner.sh" <<'INNER'
set -u
if [[ $MODE == held ]]; then
    echo "hold 1" >"$TOVRIK_EMU_CONTROL"
    for _ in $(seq 100); do grep -q "control hold 1 ok" "$TOVRIK_EMU_LOG" && break; sleep 0.1; done
    exec timeout 3 "$TOVRIK"
fi
chmod 000 "$(readlink -f "$UMOCKDEV_DIR/dev/hidraw1")"
[[ $(id -u) -ne 0 ]] && exec timeout 3 "$TOVRIK"
# Root opens anything: drop the capabilities that bypass file permissions first.
exec timeout 3 setpriv --inh-caps=-dac_override,-dac_read_search \
    --bounding-set=-dac_override,-dac_read_search "$TOVRIK"
INNER

MODE=$mode TOVRIK=$tovrik XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=offscreen \
    "$emu" --devices o,t --log "$work/log" --control "$work/fifo" -- bash "$work/inner.sh" \
    2>"$work/stderr" || true
case $mode in
    held) expected="/dev/hidraw1: held by another program" ;;
    denied) expected="/dev/hidraw1: permission denied (is the udev rule installed?)" ;;
esac
lines=$(grep -c '^/dev/hidraw' "$work/stderr" || true)
if ! grep -qxF "$expected" "$work/stderr" || [[ $lines -ne 1 ]]; then
    echo "FAIL: expected the one line '$expected'; standard error was:" >&2
    cat "$work/stderr" >&2
    exit 1
fi
echo "TOVRIK said: $expected"
