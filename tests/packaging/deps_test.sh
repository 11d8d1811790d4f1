#!/usr/bin/env bash
# scripts/deps.sh against a fake apt: an archive whose i386 index fails must not end the test
# command, but any package other than wine32 that cannot be installed still does.
#   deps_test.sh SOURCE_DIR
set -uo pipefail
deps=$1/scripts/deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fake() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
mkdir -p "$work/bin"
fake id 'echo 0'
fake sleep ':'
fake dpkg 'echo i386'
# Installed unless named in $MISSING.
fake dpkg-query 'for m in $MISSING; do [[ $m == "${@: -1}" ]] && exit 1; done; echo "install ok installed"'
# Logs each call; fails `update` always and `install` of anything named in $BROKEN.
fake apt-get 'echo "$*" >>"$LOG"
[[ $1 == update || $* == *" update"* ]] && exit 100
for b in $BROKEN; do [[ " $* " == *" $b "* ]] && exit 100; done
exit 0'

# name | missing | broken | exit status (or "fails") | installs logged (last one) | stderr must say
cases=(
    "nothing missing|||0||"
    "i386 index broken|wine32:i386 cmake|wine32:i386|0|install -y -qq --no-install-recommends cmake|32-bit Windows tests will skip"
    "another package broken|wine32:i386 cmake|cmake|fails||"
    "both broken|wine32:i386 cmake|wine32:i386 cmake|fails||"
)
for c in "${cases[@]}"; do
    IFS='|' read -r name missing broken status last says <<<"$c"
    log=$work/log
    : >"$log"
    err=$(PATH="$work/bin:$PATH" MISSING=$missing BROKEN=$broken LOG=$log bash "$deps" 2>&1 >/dev/null)
    got=$?
    [[ $got == "$status" || ($status == fails && $got != 0) ]] || { echo "FAIL $name: exit $got, wanted $status: $err"; failures=$((failures + 1)); }
    if [[ -n $last ]] && [[ $(grep '^install' "$log" | tail -1) != "$last" ]]; then
        echo "FAIL $name: last install: $(tail -1 "$log")"; failures=$((failures + 1))
    fi
    if [[ -n $says && $err != *"$says"* ]]; then
        echo "FAIL $name: stderr lacks '$says': $err"; failures=$((failures + 1))
    fi
    if [[ -z $missing && -s $log ]]; then
        echo "FAIL $name: apt-get called: $(cat "$log")"; failures=$((failures + 1))
    fi
done
echo "${#cases[@]} cases, $failures failures"
((failures == 0))
