#!/usr/bin/env bash
# The release package works from where it is unpacked:
#   scripts/test-package.sh [ZIP]      (default: out/KelvarinVK-*-win32.zip)
# Unpacks the zip into a fresh folder, checks its contents, registers the 32-bit DLL from there
# for the current user in a fresh 64-bit Wine prefix (WoW64, with the 32-bit regsvr32, as the
# installation guide says), and runs every packaged kvhost script with the packaged kvhost,
# from the package's folder, against the packaged simulator started as the script's header
# says. Each answer must be what the script's "# ожидается: X" comment says. Then the
# registration is removed, after which kvhost can no longer create the add-in.
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
said=$("$run" ./kvhost.exe --version)
[ "$said" = "kvhost $version" ] || fail "kvhost --version said '$said', the package is $version"

# Per-user registration from the unpacked folder, with the 32-bit regsvr32.
regsvr32='C:\windows\syswow64\regsvr32.exe'
"$run" "$regsvr32" /s /n /i:user KelvarinVK.dll || fail "regsvr32 /n /i:user exit code $?"

"$root/scripts/run-examples.sh" "$pkg" \
    "created AddIn.KelvarinVK from the current user's classes: *\\$name\\KelvarinVK.dll" ||
    fail "the example scripts"

"$run" "$regsvr32" /s /u /n /i:user KelvarinVK.dll || fail "regsvr32 /u /n /i:user exit code $?"
"$run" ./kvhost.exe 'tools\kvhost\examples\check-installation.txt' >"$work/kvhost.out"
status=$?
[ $status -eq 2 ] || fail "kvhost after removing the registration: exit code $status, expected 2"

if [ $failures -ne 0 ]; then
    echo "package test: $failures failed"
    exit 1
fi
echo "package test: $name works from its folder"
