#!/usr/bin/env bash
# Builds the release package out/KelvarinVK-<version>-win32.zip and, from the same files, the
# installers out/KelvarinVK-<version>.msi (per machine) and KelvarinVK-<version>-user.msi (per
# user), each with its .sha256:
#   scripts/package.sh [--out DIR] [--build DIR]
#   scripts/package.sh --check [--out DIR]
# The package holds the i686 DLL, kvhost.exe and sim-kelvarin.exe (mingw32 preset, tests off),
# the x86_64 DLL in x64/, the Russian documentation and the example kvhost scripts, with the
# repository's relative paths, so that the documents' commands work from the unpacked folder.
# Text files get CRLF line ends and a UTF-8 byte order mark (the 1C example module is
# Windows-1251, as 1C:Enterprise 7.7 reads text). The zip is reproducible: entries sorted,
# fixed permissions, every date SOURCE_DATE_EPOCH (default: the commit's date); so are the
# installers (scripts/build-msi.sh says how), which install all of it but x64/.
# --check builds the package twice, from two clones of HEAD in two folders, one after the
# other, requires the same SHA-256 of every file from both and leaves them in the output
# folder.
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
        echo "=== package of $commit built in $dir"
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
        echo "SHA-256 of $file: $first, $second"
        [ "$first" = "$second" ] && continue
        same=
        echo "NOT REPRODUCIBLE: $file differs between the two builds:"
        case $file in
            *.zip)
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
    targets=(KelvarinVK kvhost kelvarin_sim)
    if [ $arch = win64 ]; then
        preset=mingw64
        targets=(KelvarinVK)
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
    "$build/win32/tools/kelvarin-sim/sim-kelvarin.exe" "$top/"
cp "$build/win64/host/KelvarinVK.dll" "$top/x64/"
text "$root/packaging/README.txt" "$top/README.txt"
text "$root/packaging/x64-README.txt" "$top/x64/README.txt"
for f in "$root"/docs/ru/*.md; do text "$f" "$top/docs/ru/$(basename "$f")"; done
sed 's/$/\r/' "$root/docs/ru/example.1s.txt" | iconv -f UTF-8 -t WINDOWS-1251 \
    >"$top/docs/ru/example.1s.txt"
for f in "$root"/tools/kvhost/examples/*.txt; do
    text "$f" "$top/tools/kvhost/examples/$(basename "$f")"
done
text "$root/tools/kelvarin-sim/sample-prices.txt" "$top/tools/kelvarin-sim/sample-prices.txt"

# Nothing of this machine's folders may be inside the binaries, as narrow or as UTF-16 text.
for binary in "$top"/*.dll "$top"/*.exe "$top"/x64/*.dll; do
    texts=$( (strings -a "$binary" && strings -a -e l "$binary") | LC_ALL=C sort -u)
    for path in "$root" "$build"; do
        if grep -F "$path" <<<"$texts" >&2; then
            echo "package.sh: $binary holds the path $path (above)" >&2
            exit 1
        fi
    done
done
if find "$top" -type f | LC_ALL=C grep -q '[^ -~]'; then
    echo "package.sh: a file name that is not ASCII" >&2
    exit 1
fi

find "$top" -type d -exec chmod 755 {} +
find "$top" -type f -exec chmod 644 {} +
find "$top" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
export SOURCE_DATE_EPOCH
"$root/scripts/build-msi.sh" --stage "$top" --version "$version" --full-version "$full_version" \
    --out "$out"
zip=$out/$name.zip
rm -f "$zip" "$zip.sha256"
# -X: no owner or Unix time fields; zip writes local time, so one time zone for all.
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$zip" -@)
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256")
echo "package $full_version: $zip, $(stat -c %s "$zip") bytes"
cat "$zip.sha256"
