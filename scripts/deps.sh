#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Idempotent.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    clang-format clang-tidy  # scripts/check-style.sh
    qt6-base-dev qt6-base-dev-tools libqt6widgets6
    libgtest-dev libgmock-dev libbenchmark-dev
    umockdev libumockdev-dev libglib2.0-dev
    libhidapi-dev libudev-dev  # e2e tests: hidapi and a udev monitor against tovrik-emu
    libcli11-dev libasio-dev nlohmann-json3-dev  # tovrikctl
    libavahi-client-dev avahi-daemon avahi-utils  # serve's mDNS announcer and its test
    lxi-tools  # lxi discover finds the served instrument
    rpcbind  # serve registers its VXI-11 core channel with a running rpcbind (and its test)
    libboost-dev  # tovrikctl serve --http: Boost.Beast (header-only)
    chromium  # the web page tested in a real browser, headless
    python3-pyvisa python3-pyvisa-py  # tovrikctl serve driven as a VISA instrument in tests
    python3-pymeasure  # and by lab drivers, unchanged
    fonts-ipafont-gothic
    xvfb xauth xdotool x11-utils imagemagick
    dpkg-dev file desktop-file-utils groff-base
    clang libclang-rt-14-dev  # fuzzers (scripts/fuzz.sh): libFuzzer and the sanitizers
    util-linux  # flock(1) for the holds test
    locales  # locale sources for localedef (settings tests under a decimal-comma locale)
    # Windows: cross compilers (posix threads: std::mutex, std::thread), Wine to run the tests
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    googletest wine wine32:i386 wine64 zip unzip
    wixl msitools  # the MSI (cmake --build build-win32 --target msi) and its Property table
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi

# The archive now and then serves an index that fails its check ("Mirror sync in progress?"):
# try again a few times, then go on with what did come; the install below says what is missing.
for try in 1 2 3; do
    $sudo apt-get update -qq && break
    echo "deps.sh: apt-get update failed (try $try of 3)" >&2
    if ((try < 3)); then sleep $((try * 10)); fi
done

install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}
if ! install "${missing[@]}"; then
    # wine32 needs i386 libraries that match the amd64 ones, so a missing i386 index makes it
    # alone uninstallable. Without it the 32-bit Windows tests skip and say why; any other
    # missing package is still an error.
    rest=()
    for p in "${missing[@]}"; do [[ $p == wine32:i386 ]] || rest+=("$p"); done
    ((${#rest[@]} < ${#missing[@]})) || exit 1
    install "${rest[@]}"
    echo "deps.sh: wine32:i386 could not be installed (the archive's i386 index?):" \
         "the 32-bit Windows tests will skip" >&2
fi
