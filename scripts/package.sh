#!/usr/bin/env bash
# Builds the release packages out/KelvarinVK-<version>-win32.zip and
# out/KelvarinVK-<version>-1c8.zip and, from the win32 package's files, the installers
# out/KelvarinVK-<version>.msi (per machine) and out/KelvarinVK-<version>-user.msi (per user),
# each with its .sha256:
#   scripts/package.sh [--out DIR] [--build DIR]
#   scripts/package.sh --check [--out DIR]
# The win32 package holds the i686 DLL, kvhost.exe with kvnative.dll and sim-kelvarin.exe
# (mingw32 preset, tests off), the x86_64 DLL with a 64-bit kvhost.exe and kvnative.dll in
# x64/, the Russian documentation and the example kvhost scripts, with the repository's
# relative paths, so that the documents' commands work from the unpacked folder. Text files
# get CRLF line ends and a UTF-8 byte order mark (the 1C 7.7 example module is Windows-1251,
# as 1C:Enterprise 7.7 reads text). The installers install all of it but x64/, for 1C 7.7.
# The 1c8 package is what a 1C:Enterprise 8 configuration keeps as a template: MANIFEST.XML
# and the Native API add-in for 32- and 64-bit Windows clients, at the zip's root.
# The zips are reproducible: entries sorted, fixed permissions, every date SOURCE_DATE_EPOCH
# (default: the commit's date); so are the installers (scripts/build-msi.sh says how).
# --check builds the packages twice, from two clones of HEAD in two folders, one after the
# other, requires the same SHA-256 of each file from both and leaves them in the output folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/out
build=$root/build/package
check=
while [ $# -gt 0 ]; do
    case $1 in
        --out) out=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --check) check=1; shift ;;
        *)
            echo "usage: $0 [--out DIR] [--build DIR] | --check [--out DIR]" >&2
            exit 2
            ;;
    esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
"$root/scripts/install-deps.sh"

if [ -n "$check" ]; then
    commit=$(git -C "$root" rev-parse HEAD)
    work=$(mktemp -d "${TMPDIR:-/tmp}/kv-package-check.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    builds=()
    # Two source folders of different names and depths, and so two build folders.
    for dir in "$work/first/KelvarinVK" "$work/second/other/src"; do
        mkdir -p "$(dirname "$dir")"
        git clone -q --no-checkout "$root" "$dir"
        git -C "$dir" checkout -q --detach "$commit"
        echo "=== packages of $commit built in $dir"
        "$dir/scripts/package.sh" --out "$dir.out" >"$dir.log" 2>&1 || {
            cat "$dir.log"
            exit 1
        }
        grep -E '^(package|installer) ' "$dir.log"
        builds+=("$dir.out")
    done
    same=1
    for file in $(cd "${builds[0]}" && ls *.zip *.msi); do
        first=$(sha256sum "${builds[0]}/$file" | cut -d' ' -f1)
        second=$(sha256sum "${builds[1]}/$file" 2>/dev/null | cut -d' ' -f1)
        echo "SHA-256 of $file: first build $first, second build ${second:-(none)}"
        [ "$first" = "$second" ] && continue
        same=
        echo "NOT REPRODUCIBLE: $file differs between the two builds:"
        case $file in
            *.zip)
                rm -rf "$work/unzipped-first" "$work/unzipped-second"
                unzip -q "${builds[0]}/$file" -d "$work/unzipped-first"
                unzip -q "${builds[1]}/$file" -d "$work/unzipped-second"
                diff -rq "$work/unzipped-first" "$work/unzipped-second" || true
                ;;
            *.msi) msidiff -t "${builds[0]}/$file" "${builds[1]}/$file" || true ;;
        esac
    done
    [ -n "$same" ] || exit 1
    cp "${builds[0]}"/* "$out/"
    echo "REPRODUCIBLE: $(cd "$out" && ls *.zip *.msi | tr '\n' ' ')in $out"
    exit 0
fi

for arch in win32 win64; do
    preset=mingw32
    targets=(KelvarinVK KelvarinVK8 kvhost kvnative kelvarin_sim)
    if [ $arch = win64 ]; then
        preset=mingw64
        targets=(KelvarinVK KelvarinVK8 kvhost kvnative)
    fi
    echo "=== $preset: configure and build in $build/$arch"
    cmake --preset $preset -B "$build/$arch" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build/$arch" -j2 --target "${targets[@]}" >/dev/null
done
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/win32/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
full_version=$(cache_value KV_VERSION_FULL)
name=KelvarinVK-$version-win32
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315964800)
fi

stage=$build/stage
rm -rf "$stage"
top=$stage/$name
mkdir -p "$top/x64" "$top/docs/ru" "$top/tools/kvhost/examples" "$top/tools/kelvarin-sim"
# A text file as Windows users open it: CRLF line ends, UTF-8 with a byte order mark (which
# old Notepad needs to see UTF-8), the package's version filled in.
text() {
    {
        printf '\xEF\xBB\xBF'
        sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' -e "s/@VERSION@/$full_version/g" \
            -e "s/@PROJECT_VERSION@/$version/g" -e 's/$/\r/' "$1"
    } >"$2"
}
cp "$build/win32/host/KelvarinVK.dll" "$build/win32/tools/kvhost/kvhost.exe" \
    "$build/win32/tools/kvhost/kvnative.dll" "$build/win32/tools/kelvarin-sim/sim-kelvarin.exe" \
    "$top/"
cp "$build/win64/host/KelvarinVK.dll" "$build/win64/tools/kvhost/kvhost.exe" \
    "$build/win64/tools/kvhost/kvnative.dll" "$top/x64/"
text "$root/packaging/README.txt" "$top/README.txt"
text "$root/packaging/x64-README.txt" "$top/x64/README.txt"
for f in "$root"/docs/ru/*.md "$root"/docs/ru/*.bsl; do text "$f" "$top/docs/ru/$(basename "$f")"; done
sed 's/$/\r/' "$root/docs/ru/example.1s.txt" | iconv -f UTF-8 -t WINDOWS-1251 \
    >"$top/docs/ru/example.1s.txt"
for f in "$root"/tools/kvhost/examples/*.txt; do
    text "$f" "$top/tools/kvhost/examples/$(basename "$f")"
done
text "$root/tools/kelvarin-sim/sample-prices.txt" "$top/tools/kelvarin-sim/sample-prices.txt"

# The 1C:Enterprise 8 package: the manifest and one DLL a processor, at the zip's root.
name8=KelvarinVK-$version-1c8
top8=$stage/$name8
mkdir -p "$top8"
cp "$root/packaging/1c8/MANIFEST.XML" "$top8/"
cp "$build/win32/native/KelvarinVK8.dll" "$top8/KelvarinVK8_Win32.dll"
cp "$build/win64/native/KelvarinVK8.dll" "$top8/KelvarinVK8_Win64.dll"
# Every file the manifest names is there, and nothing else is.
named=$(sed -n 's/.* path="\([^"]*\)".*/\1/p' "$top8/MANIFEST.XML" | LC_ALL=C sort)
present=$(cd "$top8" && ls | grep -vx MANIFEST.XML | LC_ALL=C sort)
if [ "$named" != "$present" ]; then
    echo "package.sh: MANIFEST.XML names $(echo $named), the package holds $(echo $present)" >&2
    exit 1
fi

# Nothing of this machine's folders may be inside the binaries, as narrow or as UTF-16 text.
for binary in "$top"/*.dll "$top"/*.exe "$top"/x64/*.dll "$top"/x64/*.exe "$top8"/*.dll; do
    texts=$( (strings -a "$binary" && strings -a -e l "$binary") | LC_ALL=C sort -u)
    for path in "$root" "$build"; do
        if grep -F "$path" <<<"$texts" >&2; then
            echo "package.sh: $binary holds the path $path (above)" >&2
            exit 1
        fi
    done
done
if find "$top" "$top8" -type f | LC_ALL=C grep -q '[^ -~]'; then
    echo "package.sh: a file name that is not ASCII" >&2
    exit 1
fi

find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# zip_folder DIR ZIP folder|root: DIR's files into ZIP, the folder itself at the zip's top
# (folder) or its files at the zip's root (root); and ZIP's .sha256 beside it.
zip_folder() {
    local dir=$1 zip=$2 where=$3
    rm -f "$zip" "$zip.sha256"
    # -X: no owner or Unix time fields; zip writes local time, so one time zone for all.
    if [ "$where" = folder ]; then
        (cd "$(dirname "$dir")" && find "$(basename "$dir")" -type f | LC_ALL=C sort |
            TZ=UTC zip -X -D -q -9 "$zip" -@)
    else
        (cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
            TZ=UTC zip -X -D -q -9 "$zip" -@)
    fi
    (cd "$(dirname "$zip")" && sha256sum "$(basename "$zip")" >"$(basename "$zip").sha256")
    echo "package $full_version: $zip, $(stat -c %s "$zip") bytes"
    cat "$zip.sha256"
}
export SOURCE_DATE_EPOCH
"$root/scripts/build-msi.sh" --stage "$top" --version "$version" --full-version "$full_version" \
    --out "$out"
zip_folder "$top" "$out/$name.zip" folder
zip_folder "$top8" "$out/$name8.zip" root
