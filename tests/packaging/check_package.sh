#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it the way a user and a developer
# would meet it: its file list, control data and udev rule, then, unpacked into a temporary
# root, the programs start and find their library, and outside projects build the C example
# through find_package(tovrik) and through pkg-config.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tovrik-pkg.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

version=$(cache CMAKE_PROJECT_VERSION)
install_emulator=$(cache TOVRIK_INSTALL_EMULATOR)
rule='KERNEL=="hidraw*", SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1774", ATTRS{idProduct}=="9851", GROUP="tovrik", MODE="0660", TAG+="uaccess"'

# --- Build the package ------------------------------------------------------------------
if ! cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
    tail -n 30 "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB" >&2
    exit 1
fi
deb=$(find "$work/out" -maxdepth 1 -name 'tovrik_*.deb' | head -n 1)
[[ -n $deb ]] || { echo "FAIL: no tovrik_*.deb produced" >&2; exit 1; }
pass "cpack built $(basename "$deb")"

# --- File list --------------------------------------------------------------------------
dpkg-deb -c "$deb" >"$work/list" || fail "dpkg-deb -c"
awk '{print $6}' "$work/list" | sed 's|^\./|/|' >"$work/paths"
required=(
    '^/usr/bin/TOVRIK$'
    '^/usr/bin/tovrik-sample$'
    '^/usr/lib/([^/]+/)?libtovrik\.so\.[0-9]+$'
    '^/usr/lib/([^/]+/)?libtovrik\.so$'
    '^/usr/include/tovrik\.h$'
    '^/usr/(lib|share)/([^/]+/)?pkgconfig/tovrik\.pc$'
    '^/usr/lib/([^/]+/)?cmake/tovrik/tovrikConfig\.cmake$'
    '^/usr/lib/udev/rules\.d/70-tovrik\.rules$'
    '^/usr/share/applications/TOVRIK\.desktop$'
    '^/usr/share/applications/tovrik-sample\.desktop$'
    '^/usr/share/man/man1/TOVRIK\.1\.gz$'
    '^/usr/share/man/man1/tovrik-sample\.1\.gz$'
    '^/usr/share/doc/tovrik/copyright$'
    '^/usr/bin/tovrikctl$'
    '^/usr/share/man/man1/tovrikctl\.1\.gz$'
    '^/usr/share/bash-completion/completions/tovrikctl$'
    '^/usr/share/doc/tovrik/examples/epics/tovrik\.proto$'
    '^/usr/lib/systemd/system/tovrikctl-serve\.service$'
    '^/usr/lib/sysusers\.d/tovrik\.conf$'
)
for size in 16 32 48 64 128 256; do
    required+=("^/usr/share/icons/hicolor/${size}x${size}/apps/tovrik\\.png$")
done
for pattern in "${required[@]}"; do
    grep -Eq "$pattern" "$work/paths" || fail "package lacks a file matching $pattern"
done
if [[ $install_emulator != ON ]]; then
    grep -q 'tovrik-emu' "$work/paths" && fail "tovrik-emu is packaged without TOVRIK_INSTALL_EMULATOR"
fi
# Nothing world-writable apart from symbolic links.
awk '$1 !~ /^l/ && substr($1, 9, 1) == "w" {print $6}' "$work/list" | grep . &&
    fail "world-writable files in the package"
pass "file list"

# --- Control data -----------------------------------------------------------------------
info=$(dpkg-deb --info "$deb") || fail "dpkg-deb --info"
field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == tovrik ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version"* ]] || fail "Version '$(field Version)' is not $version"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
depends=$(field Depends)
for dep in libqt6widgets6 libqt6gui6 libqt6core6 fonts-ipafont-gothic udev; do
    grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
grep -q 'postinst' <<<"$info" || fail "no postinst"
pass "control data (Depends: $depends)"

mkdir -p "$work/root" "$work/control"
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e"
root=$work/root

# --- udev rule: exactly one rule line, with the expected text ---------------------------
rules=$(grep -v -e '^#' -e '^[[:space:]]*$' "$root/usr/lib/udev/rules.d/70-tovrik.rules")
[[ $rules == "$rule" ]] || fail "udev rule reads '$rules'"
pass "udev rule"

# --- Service unit: runs the packaged program as the group the rule names ----------------
unit=$root/usr/lib/systemd/system/tovrikctl-serve.service
grep -qx 'ExecStart=/usr/bin/tovrikctl serve --all .*' "$unit" || fail "unit runs: $(grep ExecStart "$unit")"
grep -qx 'Group=tovrik' "$unit" || fail "unit does not run in the group tovrik"
grep -Eq '^g tovrik ' "$root/usr/lib/sysusers.d/tovrik.conf" || fail "sysusers.d declares no group tovrik"
grep -q 'WantedBy=' "$unit" || fail "unit cannot be enabled"
# Ships disabled: no enablement links in the package.
grep -q '\.wants/' "$work/paths" && fail "the package enables the unit"
if ! command -v systemd-analyze >/dev/null; then
    echo "skip: systemd-analyze verify (no systemd-analyze; apt-get install systemd)"
else
    # The unit as packaged, but for the program's path: this root is not a system to boot
    # (no targets); the man page is checked above. A warning (an unknown key) fails too.
    sed "s|=/usr/bin/|=$root/usr/bin/|" "$unit" >"$work/tovrikctl-serve.service"
    if problems=$(SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
            "$work/tovrikctl-serve.service" 2>&1) && [[ -z $problems ]]; then
        pass "service unit (systemd-analyze verify)"
    else
        fail "systemd-analyze verify: $problems"
    fi
fi

# --- Maintainer script: reloads udev, never fails the installation -----------------------
mkdir -p "$work/stub-ok" "$work/stub-fail" "$work/no-udev"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$work/udevadm.calls" >"$work/stub-ok/udevadm"
printf '#!/bin/sh\nexit 1\n' >"$work/stub-fail/udevadm"
chmod +x "$work/stub-ok/udevadm" "$work/stub-fail/udevadm"
postinst=$work/control/postinst
PATH="$work/stub-ok:$PATH" sh "$postinst" configure || fail "postinst failed with udev"
grep -qx 'control --reload-rules' "$work/udevadm.calls" 2>/dev/null ||
    fail "postinst did not reload the rules"
grep -q '^trigger' "$work/udevadm.calls" 2>/dev/null || fail "postinst did not trigger udev"
PATH="$work/stub-fail:$PATH" sh "$postinst" configure || fail "postinst failed with udev down"
PATH="$work/no-udev" /bin/sh "$postinst" configure || fail "postinst failed without udevadm"
: >"$work/udevadm.calls"
PATH="$work/no-udev" /bin/sh "$work/control/prerm" remove || fail "prerm failed without systemd"
PATH="$work/stub-ok:$PATH" sh "$work/control/postrm" remove || fail "postrm failed with udev"
grep -qx 'control --reload-rules' "$work/udevadm.calls" || fail "postrm did not reload the rules"
PATH="$work/no-udev" /bin/sh "$work/control/postrm" purge || fail "postrm failed without udevadm"
pass "postinst, prerm, postrm"

# --- Desktop entries and icons ----------------------------------------------------------
for entry in TOVRIK tovrik-sample; do
    file=$root/usr/share/applications/$entry.desktop
    for key in 'Name' 'Name\[ja\]' 'Comment' 'Comment\[ja\]' 'Icon' 'Exec' 'Type'; do
        grep -Eq "^$key=.+" "$file" || fail "$entry.desktop lacks $key"
    done
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
    [[ -x $root/usr/bin/$exec_name ]] || fail "$entry.desktop runs '$exec_name', not in the package"
    if command -v desktop-file-validate >/dev/null; then
        problems=$(desktop-file-validate "$file" 2>&1) || fail "$entry.desktop: $problems"
        [[ -z $problems ]] || fail "$entry.desktop: $problems"
    fi
done
if command -v convert >/dev/null && command -v compare >/dev/null; then
    for size in 16 32 48 64 128 256; do
        png=$root/usr/share/icons/hicolor/${size}x${size}/apps/tovrik.png
        [[ $(identify -format '%wx%h' "$png") == "${size}x${size}" ]] ||
            fail "icon $size has size $(identify -format '%wx%h' "$png")"
        convert "$src/packaging/icons/tovrik.xpm" -filter point -resize "${size}x${size}" \
            "PNG32:$work/expected-$size.png"
        diff=$(compare -metric AE "$png" "$work/expected-$size.png" null: 2>&1)
        [[ $diff == 0 ]] || fail "icon $size differs from tovrik.xpm in $diff pixels"
    done
fi
man_pages=(TOVRIK tovrik-sample tovrikctl)
[[ $install_emulator == ON ]] && man_pages+=(tovrik-emu)
for page in "${man_pages[@]}"; do
    gz=$root/usr/share/man/man1/$page.1.gz
    # .TH first, after the preprocessor line (t: tables) where there is one.
    # (sed reads it all: a reader that stops early would fail the pipeline with SIGPIPE.)
    first=$(zcat "$gz" | grep -v "^'\\\\\" " | sed -n 1p)
    [[ $first == .TH* ]] || fail "man page $page is not a man page"
    # Renders without a single troff warning (preconv for the Japanese text, tbl for tables).
    if command -v groff >/dev/null; then
        warnings=$(zcat "$gz" | groff -k -t -man -ww -z -Tutf8 2>&1)
        [[ -z $warnings ]] || fail "man page $page: $warnings"
    fi
done
pass "desktop entries, icons, man pages"

# --- The programs start from the unpacked root ------------------------------------------
home=$work/home
mkdir -p "$home"
run_env=(env -u LD_LIBRARY_PATH HOME="$home" XDG_CONFIG_HOME="$home/.config"
         QT_QPA_PLATFORM=offscreen)
ldd "$root/usr/bin/TOVRIK" | grep 'not found' && fail "TOVRIK has unresolved libraries"
"${run_env[@]}" timeout 5 "$root/usr/bin/TOVRIK" >"$work/tovrik.out" 2>&1
rc=$?
# Killed by the timeout (124) means it was up and running its window.
if [[ $rc == 124 || $rc == 0 ]]; then
    pass "TOVRIK starts (exit $rc)"
else
    cat "$work/tovrik.out" >&2
    fail "TOVRIK exited with $rc"
fi

readelf -d "$root/usr/bin/tovrik-sample" | grep -E 'R(UN)?PATH' | grep -q '\$ORIGIN/\.\./lib' ||
    fail "tovrik-sample has no \$ORIGIN/../lib search path"
# It loads libtovrik.so at start; the loader's trace shows which file it took.
"${run_env[@]}" LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/ld" timeout 5 "$root/usr/bin/tovrik-sample" \
    >"$work/sample.out" 2>&1
rc=$?
if [[ $rc != 124 && $rc != 0 ]]; then
    cat "$work/sample.out" >&2
    fail "tovrik-sample exited with $rc"
fi
loaded=$(cat "$work"/ld.* 2>/dev/null | sed -n 's/.*calling init: \(.*libtovrik\.so.*\)/\1/p' | head -n 1)
case $loaded in
    "$root"/*) pass "tovrik-sample loads $loaded" ;;
    *) fail "tovrik-sample did not load libtovrik from the package (got '${loaded:-nothing}')" ;;
esac

# --- pkg-config against the unpacked root -----------------------------------------------
pcdir=$(dirname "$(find "$root" -name tovrik.pc | head -n 1)")
pkgconf=(env PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$pcdir" PKG_CONFIG_PATH=)
modversion=$("${pkgconf[@]}" pkg-config --modversion tovrik)
[[ $modversion == "$version" ]] || fail "pkg-config --modversion tovrik gives '$modversion'"
cflags=$("${pkgconf[@]}" pkg-config --cflags tovrik)
libs=$("${pkgconf[@]}" pkg-config --libs tovrik)
[[ $cflags == *"$root"* && $libs == *"$root"* ]] ||
    fail "pkg-config paths leave the root: $cflags $libs"
pass "pkg-config: tovrik $modversion"

# --- Outside projects build the C example -----------------------------------------------
example=$src/examples/set_frequency.c
if [[ ! -f $example ]]; then
    fail "$example is missing"
else
    mkdir -p "$work/with-cmake"
    cat >"$work/with-cmake/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(uses_tovrik C)
find_package(tovrik 1.0 REQUIRED)
add_executable(set_frequency "$example")
target_link_libraries(set_frequency PRIVATE tovrik::tovrik \${CMAKE_DL_LIBS} m)
CMAKE
    if cmake -S "$work/with-cmake" -B "$work/with-cmake/build" -DCMAKE_PREFIX_PATH="$root/usr" \
            -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/cmake.log" 2>&1 &&
        cmake --build "$work/with-cmake/build" >>"$work/cmake.log" 2>&1; then
        grep -q "$root" "$work/with-cmake/build/CMakeCache.txt" ||
            fail "find_package(tovrik) did not use the unpacked root"
        pass "find_package(tovrik) project builds set_frequency"
    else
        cat "$work/cmake.log" >&2
        fail "find_package(tovrik) project does not build"
    fi

    # shellcheck disable=SC2086 # the flags are meant to split
    if cc -o "$work/set_frequency" $cflags "$example" $libs -ldl -lm 2>"$work/cc.log"; then
        pass "pkg-config build of set_frequency"
    else
        cat "$work/cc.log" >&2
        fail "pkg-config build of set_frequency"
    fi

    # The built example drives an emulated TOVRIK through the packaged library. Skipped in
    # sanitizer builds, whose library needs its runtime loaded first.
    emu=$build/tools/tovrik-emu
    libdir=$(dirname "$(find "$root" -name 'libtovrik.so' | head -n 1)")
    if [[ -x $emu && -x $work/set_frequency ]] && ! ldd "$libdir/libtovrik.so" | grep -q libasan; then
        "$emu" --decode --log "$work/emu.log" -- \
            env LD_LIBRARY_PATH="$libdir" "$work/set_frequency" 1000 >"$work/run.out" 2>&1
        rc=$?
        if [[ $rc == 0 ]] && grep -q 'frequency word' "$work/emu.log"; then
            pass "set_frequency sends $(grep -m1 -o 'frequency word.*' "$work/emu.log")"
        else
            cat "$work/run.out" "$work/emu.log" >&2
            fail "set_frequency under tovrik-emu exited with $rc"
        fi
    fi
fi

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all package checks passed"
