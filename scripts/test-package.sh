#!/usr/bin/env bash
# The release packages work from where they are unpacked:
#   scripts/test-package.sh [ZIP [ZIP8]]
#   (default: out/KelvarinVK-*-win32.zip, and the -1c8.zip beside the first)
# Unpacks the win32 zip into a fresh folder, checks its contents, registers the 32-bit DLL from
# there for the current user in a fresh 64-bit Wine prefix (WoW64, with the 32-bit regsvr32,
# as the installation guide says), and runs every packaged kvhost script with the packaged
# kvhost, from the package's folder, against the packaged simulator started as the script's
# header says. Each answer must be what the script's "# ожидается: X" comment says. Then the
# registration is removed, after which kvhost can no longer create the add-in.
# The 1c8 zip is unpacked into a folder of its own and checked against its MANIFEST.XML; the
# same scripts then run through each of its DLLs with the packaged kvhost of that bitness in
# its Native API mode (--native), which must also find the memory manager's counts balanced.
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
zip8=${2:-${zip%-win32.zip}-1c8.zip}
for file in "$zip" "$zip8"; do
    if [ ! -f "$file" ]; then
        echo "test-package.sh: no package ${file:-in out/}; build it with scripts/package.sh" >&2
        exit 2
    fi
done
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
zip8=$(cd "$(dirname "$zip8")" && pwd)/$(basename "$zip8")
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
    runs_32bit=1
    dll=KelvarinVK.dll
    kvhost=./kvhost.exe
    simulator=./sim-kelvarin.exe
    regsvr32='C:\windows\syswow64\regsvr32.exe'
else
    [ $? -eq 1 ] || { echo "test-package.sh: $why" >&2; exit 2; }
    runs_32bit=
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
for file in KelvarinVK.dll kvhost.exe kvnative.dll sim-kelvarin.exe; do
    [ "$(pe_machine "$file")" = 014c ] || fail "$file is not an i686 Windows binary"
done
for file in x64/KelvarinVK.dll x64/kvhost.exe x64/kvnative.dll; do
    [ "$(pe_machine "$file")" = 8664 ] || fail "$file is not an x86_64 binary"
done
for file in README.txt x64/README.txt docs/ru/README.md docs/ru/installation.md \
    docs/ru/reference.md docs/ru/protocol.md docs/ru/troubleshooting.md docs/ru/example.1s.txt \
    docs/ru/1c8.md docs/ru/example-1c8.bsl tools/kelvarin-sim/sample-prices.txt; do
    [ -s "$file" ] || fail "$file is missing"
done
# Every text line ends with CR LF.
for file in $(find . -name '*.txt' -o -name '*.md' -o -name '*.bsl'); do
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
product_version() {
    said=$(exiftool -s3 -ProductVersion "$1")
    [ "$said" = "$version" ] || fail "$1 has the product version '$said', the package is $version"
}
for file in KelvarinVK.dll kvhost.exe kvnative.dll sim-kelvarin.exe x64/KelvarinVK.dll \
    x64/kvhost.exe x64/kvnative.dll; do
    product_version "$file"
done

# Per-user registration from the unpacked folder, with the regsvr32 of the DLL's bitness.
"$run" "$regsvr32" /s /n /i:user "$dll" || fail "regsvr32 /n /i:user exit code $?"

# run_examples KVHOST PREFIX SUFFIX [ARG...]: every packaged script with kvhost KVHOST ARG...;
# the listing's first line must begin with PREFIX and end with SUFFIX, the run end sound, and
# every answer be the script's.
run_examples() {
    local kvhost=$1 prefix=$2 suffix=$3
    shift 3
    "$root/scripts/run-examples.sh" --kvhost "$kvhost" --simulator "$simulator" "$pkg" \
        "$prefix*$suffix" "$@" || fail "the example scripts with $kvhost $*"
}

run_examples "$kvhost" "created AddIn.KelvarinVK from the current user's classes: " \
    "\\$name\\${dll//\//\\}"

"$run" "$regsvr32" /s /u /n /i:user "$dll" || fail "regsvr32 /u /n /i:user exit code $?"
"$run" "$kvhost" 'tools\kvhost\examples\check-installation.txt' >"$work/kvhost.out"
status=$?
[ $status -eq 2 ] || fail "kvhost after removing the registration: exit code $status, expected 2"

# The 1C:Enterprise 8 package: the manifest at the root names one DLL a processor, and nothing
# else is there.
name8=$(basename "$zip8" .zip)
echo "=== $name8 unpacked in a fresh folder"
unzip -q "$zip8" -d "$work/1c8" || exit 1
entries=$(cd "$work/1c8" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$entries" = "KelvarinVK8_Win32.dll KelvarinVK8_Win64.dll MANIFEST.XML " ] ||
    fail "$name8 holds $entries"
manifest=$work/1c8/MANIFEST.XML
grep -q '<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle"' "$manifest" ||
    fail "MANIFEST.XML has no bundle of the add-in namespace"
for entry in "i386 KelvarinVK8_Win32.dll 014c" "x86_64 KelvarinVK8_Win64.dll 8664"; do
    read -r arch file machine <<<"$entry"
    grep -q "<component os=\"Windows\" path=\"$file\" type=\"native\" arch=\"$arch\"/>" \
        "$manifest" || fail "MANIFEST.XML does not name $file as the Windows $arch add-in"
    [ "$(pe_machine "$work/1c8/$file")" = "$machine" ] || fail "$file is not for $arch"
    product_version "$work/1c8/$file"
done
# Nothing but Windows' own DLLs, nothing newer than Windows XP.
"$root/tests/windows/check_imports.sh" x86_64-w64-mingw32-objdump "$work/1c8/KelvarinVK8_Win64.dll" \
    i686-w64-mingw32-objdump "$work/1c8/KelvarinVK8_Win32.dll" >"$work/imports.out" ||
    fail "the 1c8 DLLs: $(grep -E '^(not a system DLL|newer than|cannot read|no imports)' "$work/imports.out")"
native_suffix=': classes "KelvarinVK", attach type 1 (not isolated)'
if [ -n "$runs_32bit" ]; then
    run_examples ./kvhost.exe "loaded Z:" "KelvarinVK8_Win32.dll$native_suffix" \
        --native "Z:$work/1c8/KelvarinVK8_Win32.dll"
else
    echo "=== KelvarinVK8_Win32.dll not run: this machine cannot run 32-bit programs ($why)"
fi
run_examples x64/kvhost.exe "loaded Z:" "KelvarinVK8_Win64.dll$native_suffix" \
    --native "Z:$work/1c8/KelvarinVK8_Win64.dll"

if [ $failures -ne 0 ]; then
    echo "package test: $failures failed"
    exit 1
fi
echo "package test: $name (with $dll) and $name8 work from their folders"
