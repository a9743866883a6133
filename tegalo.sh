#!/usr/bin/env bash
# Sets Tegalo up on Debian 12: installs what is missing, builds, and then
#   ./tegalo.sh start   starts Tegalo on the mailbox in ~/Tegalo (or $TEGALO_DIR)
#   ./tegalo.sh test    runs every test (a normal build, then one with
#                       AddressSanitizer and UndefinedBehaviorSanitizer)
set -euo pipefail
cd "$(dirname "$0")"

build_packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev libssl-dev qt6-base-dev libgumbo-dev
    libgsasl-dev nettle-dev
    qt6-qpa-plugins qt6-translations-l10n fonts-noto-cjk)
test_packages=(nkf python3 dovecot-pop3d python3-aiosmtpd libmime-tools-perl openssl)

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    local sudo=()
    [ "$(id -u)" = 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() { # build-dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

# Prints each test case the last CTest run in build directory $1 skipped,
# with the reason the case gave (a corpus or a tool that is not there).
skip_reasons() {
    awk '/: Skipped$/ { getline reason; next }
         /^\[  SKIPPED \] / && reason != "" { print "skipped: " $4 ": " reason; reason = "" }
         /^SKIP   : / { sub(/^SKIP   : /, ""); print "skipped: " $0 }' "$1/Testing/Temporary/LastTest.log"
}

case "${1:-}" in
start)
    install_missing "${build_packages[@]}"
    # A newer compiler's new warning must not keep the program from starting.
    build build -DTEGALO_WERROR=OFF -DTEGALO_BUILD_TESTS=OFF -DTEGALO_BUILD_BENCH=OFF
    # The mailbox lives in ~/Tegalo unless TEGALO_DIR names another
    # directory; the first start offers to create it.
    dir=${TEGALO_DIR:-$HOME/Tegalo}
    mkdir -p "$dir"
    exec build/tegalo --dir "$dir"
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build build -DTEGALO_WERROR=ON -DTEGALO_BUILD_TESTS=ON -DTEGALO_BUILD_BENCH=ON
    ctest --test-dir build --output-on-failure -j2
    skip_reasons build
    build build-asan -DTEGALO_WERROR=ON -DTEGALO_SANITIZE=ON -DTEGALO_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j2
    skip_reasons build-asan
    ;;
*)
    echo "usage: $0 start|test" >&2
    exit 2
    ;;
esac
