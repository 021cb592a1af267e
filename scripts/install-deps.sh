#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when any is missing.
# Idempotent and quiet: prints nothing when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 wine64-tools libwine-dev xvfb xauth xdotool imagemagick
    libfbclient2 firebird-dev firebird3.0-server-core firebird3.0-utils firebird3.0-server
    gcc-multilib
    zip unzip git
    # the installers: wixl builds them, msitools reads and amends their tables, faketime holds
    # wixl's clock at SOURCE_DATE_EPOCH; the tests of an install into a Cyrillic folder build
    # a Russian UTF-8 locale of their own from the locales package
    wixl msitools faketime locales
    # reads the version resources of the Windows binaries without running them
    libimage-exiftool-perl
    # the fuzz preset: clang with its fuzzer and sanitizer runtimes; with lld, kvnative.dll, the
    # MSVC-ABI host of the Native API add-in
    clang-14 libclang-rt-14-dev lld-14
)
# The shipped DLL is 32-bit: 32-bit Wine runs it, and the 32-bit Firebird client and engine
# serve its registry tests through a 32-bit Winelib bridge.
i386_packages=(
    wine32:i386 libgstreamer-plugins-base1.0-0:i386
    libfbclient2:i386 firebird3.0-server-core:i386
)
# The i386 Winelib import libraries for that bridge. Installing libwine-dev:i386 would remove
# the native compilers, so its package is only unpacked here.
wine_i386_dev=/var/cache/kelvarinvk/libwine-dev-i386

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
missing_i386=()
for p in "${i386_packages[@]}"; do installed "$p" || missing_i386+=("$p"); done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_i386[@]} -eq 0 ] &&
    [ -f "$wine_i386_dev/.unpacked" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
quiet=(-y -qq -o=Dpkg::Use-Pty=0 --no-install-recommends)
# apt's and dpkg's chatter goes to a log, shown only when a step fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run() {
    "$@" >>"$log" 2>&1 || {
        cat "$log" >&2
        echo "install-deps.sh: failed: $*" >&2
        exit 1
    }
}

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    run $sudo apt-get update -qq
    run $sudo apt-get install "${quiet[@]}" "${missing[@]}"
fi

if [ ${#missing_i386[@]} -gt 0 ] || [ ! -f "$wine_i386_dev/.unpacked" ]; then
    echo "installing 32-bit Wine and the 32-bit Firebird client"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    # The mirror's i386 security index is often mid-sync and refused; the release's i386
    # index is what the multi-arch halves must come from anyway.
    $sudo apt-get update -qq >/dev/null 2>&1 || true
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: -1\n' |
        $sudo tee /etc/apt/preferences.d/kelvarinvk-release-halves >/dev/null
    # Both halves of a multi-arch library must have one version: an amd64 half installed from
    # the security suite goes back to the release's version in the same command.
    closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances "${i386_packages[@]}" 2>/dev/null |
        sed -n 's/^\([a-z0-9][^ <>]*\):i386$/\1/p' | sort -u)
    realign=()
    while read -r p want; do
        have=$(dpkg-query -W -f='${Version} ${Multi-Arch}' "$p:amd64" 2>/dev/null) || continue
        [ "${have#* }" = same ] && [ "$want" != "(none)" ] && [ "$want" != "${have%% *}" ] &&
            realign+=("$p:amd64=$want")
    done < <(apt-cache policy $(printf '%s:i386 ' $closure) 2>/dev/null |
        awk '/^[^ ].*:$/ { sub(/:i386:$/, ""); sub(/:$/, ""); name = $0 }
             /^  Candidate:/ { print name, $2 }')
    # libib-util:i386 and its amd64 twin both ship one lintian override file.
    run $sudo apt-get install "${quiet[@]}" --allow-downgrades \
        -o Dpkg::Options::=--force-overwrite "${i386_packages[@]}" "${realign[@]}"

    version=$(dpkg-query -W -f='${Version}' libwine-dev:amd64)
    download=$(mktemp -d)
    chmod 755 "$download"  # apt's own user fetches into it
    (cd "$download" && run $sudo apt-get download -qq "libwine-dev:i386=$version")
    $sudo rm -rf "$wine_i386_dev"
    $sudo mkdir -p "$wine_i386_dev"
    $sudo dpkg -x "$download"/libwine-dev_*_i386.deb "$wine_i386_dev"
    rm -rf "$download"
    $sudo touch "$wine_i386_dev/.unpacked"
fi
