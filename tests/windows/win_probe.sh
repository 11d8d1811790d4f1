# Sourced by the Windows end-to-end scripts, which set wine_run, tovrik and work: the Windows
# API's answers about a window or a program (win_probe.cpp), read from a file, never from a
# stream Wine writes into.
probe_exe=$(dirname "$tovrik")/tovrik_win_probe.exe
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
probe() {
    rm -f "$work/probe.txt"
    "$wine_run" "$probe_exe" "$(winpath "$work/probe.txt")" "$@" >/dev/null 2>&1 &&
        cat "$work/probe.txt"
}
