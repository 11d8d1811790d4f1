#!/usr/bin/env bash
# TOVRIK.exe and tovrik-sample.exe end to end: under Wine on a private X server (Xvfb),
# driven with real X11 input from xdotool, against a TOVRIK emulated by tovrik-emu. One
# wineserver session for every check. With a native TOVRIK, the reports and the settings
# file of one key sequence are compared with what the Linux program gives for it.
#   win_programs_e2e.sh TOVRIK_EMU WINE_RUN TOVRIK_EXE SAMPLE_EXE WORK_DIR [NATIVE_TOVRIK]
# TOVRIK_SCREENSHOTS=DIR saves docs screenshots there. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
emu=$1 wine_run=$2 tovrik=$3 sample=$4 work=$5 native=${6:-}
skip=77
here=$(cd "$(dirname "$0")" && pwd)

if [[ ! -x $emu ]]; then
    echo "SKIP: no tovrik-emu at '$emu' (configure with -DTOVRIK_EMU=<native build>/tools/tovrik-emu)"
    exit $skip
fi
"$wine_run" --can-run || exit $?  # 77 with the reason, e.g. a 32-bit build on this machine

rm -rf "$work" && mkdir -p "$work"
fifo=$work/control
# shellcheck source=wine_session.sh
. "$here/wine_session.sh"
start_xvfb

# The profile as TOVRIK.exe finds it under Wine.
appdata=$("$wine_run" --prefix-path)/drive_c/users/$(id -un)/AppData/Roaming
ini=$appdata/TOVRIK/TOVRIK.INI

mark=0
wait_log() {  # a line starting with $1 after the last one waited for, within 10 s
    local n
    for _ in $(seq 100); do
        n=$(tail -n +$((mark + 1)) "$log" | grep -n -m1 "^$1" | cut -d: -f1)
        [[ -n $n ]] && { mark=$((mark + n)); return 0; }
        sleep 0.1
    done
    fail "no log line '$1' after line $mark"
    return 1
}
writes() { grep -c ' write ' "$log"; }
windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null | sort; }
new_window() {  # NAME KNOWN: a visible window of that name other than KNOWN, within 10 s
    local w
    for _ in $(seq 100); do
        w=$(comm -13 <(echo "$2") <(windows "$1") | head -1)
        [[ -n $w ]] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}
gone() {  # WINDOW: closed within 10 s
    for _ in $(seq 100); do xdotool getwindowname "$1" >/dev/null 2>&1 || return 0; sleep 0.1; done
    return 1
}
start_tovrik() {
    "$wine_run" "$tovrik" &
    app=$!
    win=$(wait_window '^TOVRIK$' 60)
    [[ -n $win ]] || no_window '^TOVRIK$'
    sleep 0.3
    xdotool windowfocus --sync "$win"
}
end_tovrik() {  # waits for the program to end
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app" 2>/dev/null && { fail "TOVRIK.exe still running"; kill "$app"; }
    wait "$app"
    app=""
}
has_line() { tr -d '\r' <"$ini" | grep -qx "$1"; }
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }
source "$here/win_probe.sh"

# The fonts the programs name, mapped to ones Wine has.
start_session '
    for face in "ＭＳ ゴシック" "ＭＳゴシック"; do
        "$1" reg.exe add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "$face" /t REG_SZ /d IPAGothic /f
    done
    # Tahoma is the menu and message box font; it has no Japanese.
    for face in "ＭＳ Ｐゴシック" Tahoma; do
        "$1" reg.exe add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "$face" /t REG_SZ /d IPAPGothic /f
    done' --devices t --control "$fifo"
mkdir -p "$(dirname "$ini")"
rm -f "$ini"

# 0. The version record, as Windows reads it: these values and nothing else.
version=$(probe version "$(winpath "$tovrik")")
[[ $version == "file 1.0.0.1 product 1.0.0.1
translation 0411 1200
string 041104B0/FileDescription=TOVRIKｺﾝﾄﾛｰﾙｱﾌﾟﾘｹｰｼｮﾝ
string 041104B0/FileVersion=1, 6, 1, 5
string 041104B0/InternalName=TOVRIK
string 041104B0/OriginalFilename=TOVRIK.EXE
string 041104B0/ProductName=TOVRIK ｱﾌﾟﾘｹｰｼｮﾝ
string 041104B0/ProductVersion=1, 6, 1, 5
language 1041" ]] || fail "version record: $version"

# 1. The Linux end-to-end sequence: version box, O, F2 1 2 . 5 Enter, Escape, Enter, X.
start_tovrik
style=$(probe style TOVRIK)
[[ $style == *"minimize 0 maximize 0" ]] || fail "main window: $style"
xdotool key alt+v
wait_log "hidraw0 get-feature"  # the handle opened at start: the TOVRIK was found
if box=$(new_window '^TOVRIK$' "$win"); then
    xdotool windowfocus --sync "$box" key Return
    gone "$box" || fail "the version box stayed"
else
    fail "no version message box"
fi
xdotool windowfocus --sync "$win" key o
wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
xdotool key F2 1 2 period 5 Return
wait_log "hidraw0 write 00 2A 01 00 00 01 00 00"
xdotool key Escape Return
sleep 0.3
kill -0 "$app" 2>/dev/null || fail "Enter or Escape ended the program"
if [[ -n ${TOVRIK_SCREENSHOTS:-} ]]; then
    geometry "$win"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
        "$TOVRIK_SCREENSHOTS/windows-main-window.png"
fi
xdotool key x
wait_log "hidraw0 write 00 00 00 00 00 01 00 00"
end_tovrik
grep ' write ' "$log" >"$work/writes.win"
cp "$ini" "$work/ini.win" 2>/dev/null || fail "no settings file at $ini"
keys=$(sed -n 's/^\(\[[^]]*\]\).*/\1/p; s/^\([^=[]*\)=.*/\1/p' "$ini" | tr '\n' ' ')
[[ $keys == "[Profile] Freq Step Display SaveFreq RevSpin RevWheel Lock OutStart [Preset] 0 1 2 " ]] ||
    fail "settings keys: $keys"
has_line 'Freq=12.50' || fail "Freq: $(cat "$ini")"
# A file written from nothing has Windows' line ends.
grep -qv $'\r$' "$ini" && fail "a new settings file without CR LF: $(cat -A "$ini")"
if [[ -x $native ]]; then
    if TOVRIK_DRIVE_OUT=$work/linux "$here/../app/drive_tovrik.sh" "$native" "$emu" exit >/dev/null; then
        diff <(cut -d' ' -f2- "$work/writes.win") <(cut -d' ' -f2- "$work/linux/writes") ||
            fail "reports differ from the Linux TOVRIK's"
        diff <(tr -d '\r' <"$work/ini.win") "$work/linux/TOVRIK.INI" ||
            fail "settings file differs from the Linux TOVRIK's"
        echo "same reports and settings file as the Linux TOVRIK"
    else
        fail "the Linux TOVRIK's run failed"
    fi
else
    echo "note: no native TOVRIK at '$native': no comparison with the Linux program"
fi

# 2. Wheel, the entry limit and the units.
start_tovrik
xdotool key o
wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"  # SaveFreq=0: 10 MHz again
geometry "$win"
xdotool mousemove --window "$win" $((WIDTH / 2)) $((HEIGHT / 2)) click 4
wait_log "hidraw0 write 00 E1 7A 14 0E 01 00 00"  # one notch forward: 100 kHz lower
xdotool key F2 8 0 0 0 0 0 0 0 0 Return  # the ninth digit would pass 80,000,000
wait_log "hidraw0 write 00 72 1C C7 71 01 00 00"
xdotool key F2 1 2 k Return
wait_log "hidraw0 write 00 7B 5E 04 00 01 00 00"
xdotool key F2 1 m Return
wait_log "hidraw0 write 00 C1 16 6C 01 01 00 00"
xdotool key alt+F4  # the close box: no stop report
end_tovrik
has_line 'Freq=1000000.00' || fail "Freq after the units: $(grep Freq "$ini")"

# 2b. The wheel over the spin is a wheel turn, not a spin click: RevWheel turns both ways alike.
over() {  # ID: the pointer to the centre of TOVRIK's control ID (screen = X root coordinates)
    local id l t r b
    read -r id l t r b < <(probe rect TOVRIK "$1") || { fail "no rectangle of $1"; return 1; }
    xdotool mousemove $(((l + r) / 2)) $(((t + b) / 2))
}
printf '[Profile]\r\nOutStart=1\r\nRevWheel=1\r\n' >"$ini"
start_tovrik
wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
over 1006 && xdotool click 4
wait_log "hidraw0 write 00 3B 4C 5D 0E 01 00 00"  # forward, reversed: 100 kHz higher
over 1000 && xdotool click 4
wait_log "hidraw0 write 00 E8 B4 81 0E 01 00 00"  # the same over the spin
xdotool key alt+F4
end_tovrik

# 3. A hand-edited file: OutStart sends at start, Lock refuses the wheel with a beep, over the
# spin too.
printf '[Profile]\r\nOutStart=1\r\nLock=1\r\nStep=5\r\n' >"$ini"
count=$(writes)
start_tovrik
wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
geometry "$win"
xdotool mousemove --window "$win" $((WIDTH / 2)) $((HEIGHT / 2)) click 4 click 5
over 1000 && xdotool click 4 click 5
sleep 0.5
xdotool key alt+F4
end_tovrik
(( $(writes) == count + 1 )) || fail "locked output sent: $(tail -n +$((mark + 1)) "$log")"
# The hand-edited CRLF file stays CRLF: kept lines byte for byte, new lines like the first.
grep -qx $'Step=5\r' "$ini" && grep -qx $'Lock=1\r' "$ini" && ! grep -qv $'\r$' "$ini" ||
    fail "hand-edited keys or their line ends lost: $(cat -A "$ini")"

# 4. The settings dialog: Escape, its close box and Enter on ｷｬﾝｾﾙ apply nothing; OK does.
printf '[Profile]\n' >"$ini"
start_tovrik
settings() {  # opens the dialog, ticks the first box (SaveFreq); echoes the dialog
    local d
    xdotool windowfocus --sync "$win" key alt+s
    d=$(new_window '^初期設定$' "") || { fail "no settings dialog"; return 1; }
    xdotool windowfocus --sync "$d" key Tab Tab space
    echo "$d"
}
if d=$(settings); then xdotool key Escape; gone "$d" || fail "Escape left the dialog open"; fi
if d=$(settings); then xdotool key alt+F4; gone "$d" || fail "the close box left the dialog open"; fi
if d=$(settings); then xdotool key shift+Tab Return; gone "$d" || fail "Enter on ｷｬﾝｾﾙ left the dialog open"; fi
if d=$(settings); then
    if [[ -n ${TOVRIK_SCREENSHOTS:-} ]]; then
        geometry "$d"
        import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
            "$TOVRIK_SCREENSHOTS/windows-settings-dialog.png"
    fi
    xdotool key Return; gone "$d" || fail "OK left the dialog open"
fi
xdotool windowfocus --sync "$win" key alt+F4
end_tovrik
grep -qx 'SaveFreq=1' "$ini" || fail "SaveFreq after three cancels and one OK: $(grep SaveFreq "$ini")"

# 4b. A hand-edited 2 opens in the third state and stays 2 on OK; a click makes it checked.
printf '[Profile]\r\nRevSpin=2\r\nRevWheel=2\r\n' >"$ini"
start_tovrik
xdotool windowfocus --sync "$win" key alt+s
if d=$(new_window '^初期設定$' ""); then
    xdotool windowfocus --sync "$d" key Tab Tab Tab space Return  # from OK to 1032 (RevSpin)
    gone "$d" || fail "OK left the dialog open"
else
    fail "no settings dialog"
fi
xdotool windowfocus --sync "$win" key alt+F4
end_tovrik
grep -qx $'RevSpin=1\r' "$ini" && grep -qx $'RevWheel=2\r' "$ini" ||
    fail "third state: $(grep Rev "$ini")"

# 4c. Sign-out: Windows sends WM_QUERYENDSESSION and WM_ENDSESSION, then ends the process
# without a WM_DESTROY. The settings are saved all the same; the output is left as it is.
printf '[Profile]\r\n' >"$ini"
start_tovrik
xdotool key o
wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
xdotool key F2 3 m Return
wait_log "hidraw0 write 00 44 44 44 04 01 00 00"
count=$(writes)
[[ $(probe endsession TOVRIK) == "query 1" ]] || fail "the session end was not agreed to"
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
wait "$app" 2>/dev/null
app=""
has_line 'Freq=3000000.00' || fail "settings lost at sign-out: $(cat "$ini")"
(( $(writes) == count )) || fail "sent at sign-out: $(tail -n 2 "$log")"

# 5. No device: one spin click with the output on shows one message box, sends nothing.
printf '[Profile]\n' >"$ini"
start_tovrik
xdotool key o
wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
count=$(writes)
echo "unplug 0" >"$fifo"
wait_log "control unplug 0 ok"
geometry "$win"
# The lower arrow's centre in dialog units (240, 72) of 258 x 161, the menu bar above them.
xdotool mousemove --window "$win" $((WIDTH * 240 / 258)) $((HEIGHT - (HEIGHT - 20) * 89 / 161))
xdotool mousedown 1; sleep 0.15; xdotool mouseup 1
sleep 2
boxes=$(comm -13 <(echo "$win") <(windows '^TOVRIK$'))
[[ $(echo "$boxes" | grep -c .) -eq 1 ]] || fail "message boxes after one click: $(echo "$boxes" | grep -c .)"
for b in $boxes; do xdotool windowfocus --sync "$b" key Return; gone "$b"; done
echo "replug 0" >"$fifo"
wait_log "control replug 0 ok"
(( $(writes) == count )) || fail "sent without a device"
xdotool windowfocus --sync "$win" key alt+F4
end_tovrik

# 6. The sample: start-up message, 12800000, -1, refused "abc" and 95000000, power saving.
"$wine_run" "$sample" &
app=$!
box=$(wait_window '^tovrik-sample$' 60)
[[ -n $box ]] || no_window '^tovrik-sample$'
xdotool windowfocus --sync "$box" key Return
form=$(wait_window '^Form1$' 60)
if [[ -n $form ]]; then
    sleep 0.5
    geometry "$form"
    if [[ -n ${TOVRIK_SCREENSHOTS:-} ]]; then
        import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
            "$TOVRIK_SCREENSHOTS/windows-sample.png"
    fi
    # The keyboard alone: Text1 has the focus at start, Tab goes Text1, Command1, Command2 and
    # round, Shift+Tab back, and a message box hands the focus back to the button it came from.
    xdotool windowfocus --sync "$form" key ctrl+a type 1
    xdotool key Tab space
    wait_log "hidraw0 write 00 18 00 00 00 01 00 00"
    xdotool key Tab space
    wait_log "hidraw0 write 00 00 00 00 00 05 00 00"
    xdotool key Tab ctrl+a type abc
    for round in 1 2; do
        [[ $round == 1 ]] && xdotool key shift+Tab shift+Tab space ||
            xdotool windowfocus --sync "$form" key space
        if b=$(new_window '^tovrik-sample$' ""); then
            xdotool windowfocus --sync "$b" key Return; gone "$b" || fail "message box stayed"
        else
            fail "Space on Command1 (round $round) showed no message"
        fi
    done
    [[ $(probe focus Form1) == "focus 3" ]] || fail "after the box: $(probe focus Form1)"
    xdotool windowfocus --sync "$form" key shift+Tab ctrl+a type 12800000
    click() { xdotool mousemove --window "$form" $((WIDTH * $1 / 4665)) $((HEIGHT * $2 / 3165)) click 1; }
    command1() { click $((3480 + 975 / 2)) $((2520 + 495 / 2)); }
    typed() { click $((720 + 3135 / 2)) $((600 + 615 / 2)); xdotool key ctrl+a BackSpace type -- "$1"; }
    count=$(writes)
    command1
    wait_log "hidraw0 write 00 79 56 34 12 01 00 00"
    typed -1; command1
    wait_log "hidraw0 write 00 E8 FF FF FF 01 00 00"
    for text in abc 95000000; do
        typed "$text"; command1
        if b=$(new_window '^tovrik-sample$' ""); then
            xdotool windowfocus --sync "$b" key Return; gone "$b" || fail "message box stayed"
        else
            fail "no message for '$text'"
        fi
    done
    click $((1680 + 1695 / 2)) $((2520 + 495 / 2))  # Command2
    wait_log "hidraw0 write 00 00 00 00 00 05 00 00"
    (( $(writes) == count + 3 )) || fail "sample writes: $(tail -n +$((count)) "$log" | grep write)"
    xdotool windowfocus --sync "$form" key alt+F4
else
    fail "Form1 did not appear"
fi
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill "$app" 2>/dev/null
app=""

if ((failures)); then
    echo "--- emulator log"; cat "$log"
    exit 1
fi
echo "passed"
