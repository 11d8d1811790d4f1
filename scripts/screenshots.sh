#!/usr/bin/env bash
# Saves PNGs of TOVRIK's main window, settings dialog and About box to docs/, taken on a
# virtual X display (Xvfb) with TOVRIK running against one emulated TOVRIK.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/, built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [[ -z ${TOVRIK_SCREENSHOTS_DISPLAY_READY:-} ]]; then
    scripts/deps.sh
    if [[ ! -x $build/app/TOVRIK || ! -x $build/tools/tovrik-emu ]]; then
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
        cmake --build "$build" -j "$(nproc)" --target TOVRIK tovrik-emu
    fi
    export TOVRIK_SCREENSHOTS_DISPLAY_READY=1 QT_QPA_PLATFORM=xcb
    exec xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/tools/tovrik-emu" --devices t --log /dev/null -- "$0" "$build"
fi

fail() { echo "screenshots: $*" >&2; exit 1; }
find_window() {  # visible window with exactly this name, within 20 s
    timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | tail -1
}
wait_gone() {
    for _ in $(seq 100); do xdotool search --onlyvisible --name "^$1\$" >/dev/null || return 0; sleep 0.1; done
    fail "window '$1' did not close"
}

config=$(mktemp -d)
export XDG_CONFIG_HOME=$config
"$build/app/TOVRIK" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$config"' EXIT

main=$(find_window TOVRIK)
[[ -n $main ]] || fail "no main window"
sleep 0.5
import -window "$main" docs/main-window.png

xdotool windowfocus --sync "$main" key alt+s
settings=$(find_window 初期設定)
[[ -n $settings ]] || fail "no settings dialog"
sleep 0.5
import -window "$settings" docs/settings-dialog.png
xdotool windowfocus --sync "$settings" key Escape
wait_gone 初期設定

# No system menu on X11: the About entry is in the window's context menu.
xdotool mousemove --window "$main" 40 200 click 3
sleep 0.5
xdotool key a
about=$(find_window "TOVRIKのﾊﾞｰｼﾞｮﾝ情報")
[[ -n $about ]] || fail "no About box"
sleep 0.5
import -window "$about" docs/about-box.png
xdotool windowfocus --sync "$about" key Return
wait_gone "TOVRIKのﾊﾞｰｼﾞｮﾝ情報"

xdotool windowfocus --sync "$main" key x
wait $pid
echo "saved docs/main-window.png docs/settings-dialog.png docs/about-box.png"
