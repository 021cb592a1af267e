#!/usr/bin/env bash
# The release package works from where it is unpacked:
#   scripts/test-package.sh [ZIP]      (default: out/KelvarinVK-*-win32.zip)
# Unpacks the zip into a fresh folder, checks its contents, registers the 32-bit DLL from there
# for the current user in a fresh 64-bit Wine prefix (WoW64, with the 32-bit regsvr32, as the
# installation guide says), and runs every packaged kvhost script with the packaged kvhost,
# from the package's folder, against the packaged simulator started as the script's header
# says. Each answer must be what the script's "# ожидается: X" comment says. Then the
# registration is removed, after which kvhost can no longer create the add-in.
# Where this machine cannot run 32-bit programs (scripts/runs-32bit.sh), the same is done with
# the package's x64/KelvarinVK.dll, the 64-bit regsvr32 and a 64-bit kvhost and simulator built
# from this source tree by the mingw64 preset (in KV_X64_BUILD, default build/package/win64);
# the 32-bit files are then only checked for presence, processor and version.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zip=${1:-}
if [ -z "$zip" ]; then
    zip=$(ls "$root"/out/KelvarinVK-*-win32.zip 2>/dev/null | head -1)
fi
if [ ! -f "$zip" ]; then
    echo "test-package.sh: no package ${zip:-in out/}; build it with scripts/package.sh" >&2
    exit 2
fi
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
name=$(basename "$zip" .zip)
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-package-test.XXXXXX")
export KV_WINEPREFIX=$work/prefix
cleanup() {
    WINEPREFIX=$KV_WINEPREFIX wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
run=$root/scripts/wine-run.sh
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

if why=$("$root/scripts/runs-32bit.sh" --why); then
    dll=KelvarinVK.dll
    kvhost=./kvhost.exe
    simulator=./sim-kelvarin.exe
    regsvr32='C:\windows\syswow64\regsvr32.exe'
else
    [ $? -eq 1 ] || { echo "test-package.sh: $why" >&2; exit 2; }
    echo "=== this machine cannot run 32-bit programs ($why):"
    echo "    the package is run with x64/KelvarinVK.dll and 64-bit tools built from this tree"
    x64_build=${KV_X64_BUILD:-$root/build/package/win64}
    if [ -z "${KV_X64_BUILD:-}" ]; then
        { cmake --preset mingw64 -S "$root" -B "$x64_build" -DBUILD_TESTING=OFF >/dev/null &&
            cmake --build "$x64_build" -j2 --target kvhost kelvarin_sim >/dev/null; } ||
            { echo "test-package.sh: could not build the 64-bit kvhost and simulator" >&2; exit 1; }
    fi
    dll=x64/KelvarinVK.dll
    kvhost=$x64_build/tools/kvhost/kvhost.exe
    simulator=$x64_build/tools/kelvarin-sim/sim-kelvarin.exe
    regsvr32='C:\windows\system32\regsvr32.exe'
fi

unzip -q "$zip" -d "$work/unpacked" || exit 1
pkg=$work/unpacked/$name
cd "$pkg" || exit 1
echo "=== $name unpacked in a fresh folder"

# The contents: the binaries of both architectures, the documents, the examples.
pe_machine() {
    local offset
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
for file in KelvarinVK.dll kvhost.exe sim-kelvarin.exe; do
    [ "$(pe_machine "$file")" = 014c ] || fail "$file is not an i686 Windows binary"
done
[ "$(pe_machine x64/KelvarinVK.dll)" = 8664 ] || fail "x64/KelvarinVK.dll is not an x86_64 binary"
for file in README.txt x64/README.txt docs/ru/README.md docs/ru/installation.md \
    docs/ru/reference.md docs/ru/protocol.md docs/ru/troubleshooting.md docs/ru/example.1s.txt \
    tools/kelvarin-sim/sample-prices.txt; do
    [ -s "$file" ] || fail "$file is missing"
done
# Every text line ends with CR LF.
for file in $(find . -name '*.txt' -o -name '*.md'); do
    if grep -q $'[^\r]$' "$file"; then fail "$file has a line without CR LF"; fi
done
grep -q "НЕ для 1С:Предприятия 7.7" x64/README.txt || fail "x64/README.txt does not say it is not for 1C 7.7"

# kvhost --version names the version of the package's README.
version=$(head -1 README.txt | sed 's/^\xEF\xBB\xBF//; s/\r$//' | cut -d' ' -f2)
package_version=${name#KelvarinVK-}
package_version=${package_version%-win32}
case $version in "$package_version"+*) ;; *) fail "README.txt names version $version" ;; esac
said=$("$run" "$kvhost" --version)
[ "$said" = "kvhost $version" ] || fail "kvhost --version said '$said', the package is $version"
# Every binary's version resource, read without running it.
for file in KelvarinVK.dll kvhost.exe sim-kelvarin.exe x64/KelvarinVK.dll; do
    said=$(exiftool -s3 -ProductVersion "$file")
    [ "$said" = "$version" ] || fail "$file has the product version '$said', the package is $version"
done

# Per-user registration from the unpacked folder, with the regsvr32 of the DLL's bitness.
"$run" "$regsvr32" /s /n /i:user "$dll" || fail "regsvr32 /n /i:user exit code $?"

"$root/scripts/run-examples.sh" --kvhost "$kvhost" --simulator "$simulator" "$pkg" \
    "created AddIn.KelvarinVK from the current user's classes: *\\$name\\${dll//\//\\}" ||
    fail "the example scripts"

"$run" "$regsvr32" /s /u /n /i:user "$dll" || fail "regsvr32 /u /n /i:user exit code $?"
"$run" "$kvhost" 'tools\kvhost\examples\check-installation.txt' >"$work/kvhost.out"
status=$?
[ $status -eq 2 ] || fail "kvhost after removing the registration: exit code $status, expected 2"

if [ $failures -ne 0 ]; then
    echo "package test: $failures failed"
    exit 1
fi
echo "package test: $name works from its folder (with $dll)"
