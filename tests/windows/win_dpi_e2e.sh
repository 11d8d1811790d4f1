#!/usr/bin/env bash
# TOVRIK.exe and tovrik-sample.exe on a high-DPI screen: both manifests declare per-monitor
# awareness, and under Wine at LogPixels 96 and 144 (each in a copy of the test prefix, on
# its own Xvfb) the readout's and the caption's glyphs keep their height relative to their
# controls, whose rectangles the Windows API reports (win_probe.exe), and the sample's twip
# layout follows the DPI.
#   win_dpi_e2e.sh WINE_RUN TOVRIK_EXE SAMPLE_EXE WORK_DIR
# TOVRIK_SCREENSHOTS=DIR saves the 144 DPI screenshots there. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
# shellcheck source=../support/x11.sh
. "$(dirname "$0")/../support/x11.sh"
wine_run=$1 tovrik=$2 sample=$3 work=$4

"$wine_run" --can-run || exit $?
rm -rf "$work" && mkdir -p "$work"
failures=0 xvfb="" app="" prefix=""
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
stop_session() {
    [[ -n $app ]] && kill "$app" 2>/dev/null
    app=""
    [[ -n $prefix ]] && TOVRIK_WINE_PREFIX=$prefix "$wine_run" --server -k 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
    xvfb=""
}
trap stop_session EXIT

source "$(dirname "$0")/win_probe.sh"

for exe in "$tovrik" "$sample"; do
    manifest=$(probe manifest "$(winpath "$exe")")
    grep -q '<dpiAwareness[^>]*>PerMonitorV2' <<<"$manifest" &&
        grep -q '<dpiAware[^>]*>true/pm<' <<<"$manifest" ||
        fail "$(basename "$exe"): the manifest declares no per-monitor DPI awareness"
done

base=$("$wine_run" --prefix-path)
"$wine_run" --server -w 2>/dev/null  # the registry on disk is complete

# Height of the glyphs (pixels darker than mid-grey) inside a control's rectangle, `inset`
# pixels in from its edges (its border), as a share of the rectangle's height.
glyph_share() {  # SHOT LEFT TOP RIGHT BOTTOM INSET
    local w=$(($4 - $2 - 2 * $6)) h=$(($5 - $3 - 2 * $6)) box
    box=$(convert "$1" -crop "${w}x${h}+$(($2 + $6))+$(($3 + $6))" +repage -colorspace gray \
        -threshold 50% -format '%@' info:)
    box=${box#*x}
    echo "$(echo "scale=3; ${box%%+*} / ($5 - $3)" | bc) (${box%%+*} of $(($5 - $3)) pixels)"
}
declare -A share height
for dpi in 96 144; do
    prefix=$work/prefix-$dpi
    # Hard links, but the registry files of their own: the copy's wineserver rewrites them.
    cp -al "$base" "$prefix" && for reg in "$base"/*.reg; do cp --remove-destination "$reg" "$prefix/"; done
    export TOVRIK_WINE_PREFIX=$prefix
    start_xvfb 1280x1024x24
    "$wine_run" reg.exe add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
    for face in "ＭＳ ゴシック" "ＭＳゴシック"; do
        "$wine_run" reg.exe add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "$face" /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
    done
    for face in "ＭＳ Ｐゴシック" Tahoma; do
        "$wine_run" reg.exe add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "$face" /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1
    done

    # TOVRIK.exe without a device: no message box at start.
    "$wine_run" "$tovrik" >/dev/null 2>&1 &
    app=$!
    win=$(wait_window '^TOVRIK$' 60)
    if [[ -n $win ]]; then
        sleep 1
        import -window root "$work/tovrik-$dpi.png"
        while read -r id l t r b; do
            inset=$((id == 1006 ? 3 * dpi / 96 : 0))
            share[$id-$dpi]=$(glyph_share "$work/tovrik-$dpi.png" "$l" "$t" "$r" "$b" $inset)
            height[$id-$dpi]=$((b - t))
        done < <(probe rect TOVRIK 1005 1006)
        if [[ -n ${TOVRIK_SCREENSHOTS:-} && $dpi == 144 ]]; then
            shot() {  # WINDOW NAME
                eval "$(xdotool getwindowgeometry --shell "$1")"
                import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
                    "$TOVRIK_SCREENSHOTS/$2-144dpi.png"
            }
            shot "$win" windows-main-window
            # The settings dialog and a message box, scaled by the system alone.
            for keys in settings version; do
                xdotool windowfocus --sync "$win" key "alt+${keys:0:1}"
                sleep 1
                other=$(xdotool search --onlyvisible --name '.' | grep -vx "$win" | tail -1)
                [[ -n $other ]] && shot "$other" "windows-$keys" &&
                    xdotool windowfocus --sync "$other" key Escape
                sleep 1
            done
        fi
        xdotool windowfocus --sync "$win" key alt+F4
    else
        fail "no TOVRIK window at $dpi DPI"
    fi
    for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done

    # tovrik-sample.exe: "not found", then Form1.
    "$wine_run" "$sample" >/dev/null 2>&1 &
    app=$!
    box=$(wait_window '^tovrik-sample$' 60)
    [[ -n $box ]] && xdotool windowfocus --sync "$box" key Return
    form=$(wait_window '^Form1$' 60)
    if [[ -n $form ]]; then
        sleep 1
        import -window root "$work/sample-$dpi.png"
        read -r id l t r b < <(probe rect Form1 2)
        # Text1 is 615 twips high, with a client edge of 2 pixels at 96 DPI.
        (((b - t) == (615 * dpi + 720) / 1440)) || fail "Text1 at $dpi DPI: $((b - t)) pixels high"
        if [[ -n ${TOVRIK_SCREENSHOTS:-} && $dpi == 144 ]]; then
            eval "$(xdotool getwindowgeometry --shell "$form")"
            convert "$work/sample-$dpi.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
                "$TOVRIK_SCREENSHOTS/windows-sample-144dpi.png"
        fi
        xdotool windowfocus --sync "$form" key alt+F4
    else
        fail "no Form1 at $dpi DPI"
    fi
    for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    stop_session
    rm -rf "$prefix"
    prefix=""
done

for control in 1005 1006; do
    echo "$control: glyphs fill ${share[$control-96]:-nothing} at 96 DPI, ${share[$control-144]:-nothing} at 144 DPI"
    at96=${share[$control-96]:-0} at144=${share[$control-144]:-0}
    at96=${at96%% *} at144=${at144%% *}
    # The setting reached the program: the system grew the dialog by about the DPI's ratio.
    # (Wine's GetDpiForWindow asked from another process once answered 96 here while the
    # program itself, its layout and its fonts were at 144: the layout is the evidence.)
    h96=${height[$control-96]:-0} h144=${height[$control-144]:-0}
    ((h96 > 0 && h144 * 10 >= h96 * 14 && h144 * 10 <= h96 * 17)) ||
        fail "$control: $h96 pixels high at 96 DPI, $h144 at 144: the DPI did not take effect"
    # The fonts grow by the DPI's ratio exactly, the layout with the dialog font's metrics
    # (1.55 times with IPAPGothic), hinted glyphs a little less: a few hundredths apart.
    [[ $(echo "d = $at144 - $at96; d < 0.05 && d > -0.05 && $at96 > 0.3" | bc) == 1 ]] ||
        fail "$control: the glyphs do not scale with their control"
done
((failures)) && exit 1
echo "passed"
