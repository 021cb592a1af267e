#!/usr/bin/env bash
# The installers do what an administrator deploys them for:
#   scripts/test-installer.sh [DIR]      (default: out/, where scripts/package.sh leaves them)
# First, everywhere, the packages themselves: their .sha256, the files they install (those of
# the zip beside them, but x64/, byte for byte), no self-registration and no custom action, a
# 32-bit package. Then, where this machine runs 32-bit programs (scripts/runs-32bit.sh), each
# case under Wine in a fresh 64-bit prefix with msiexec /qn, as group policy runs it:
#   user     installs per user; kvhost from the installed folder creates the add-in from the
#            user's classes and runs search.txt against the installed simulator; kvhost --check
#            passes its registration group; a deleted DLL comes back with a repair; the
#            uninstall leaves no file and no key of ours, and the user's own trace setting
#   machine  installs per machine a package of a lower version (built here from the same files,
#            its DLL stamped 1.9.0.0), then the new one over it: one product, the new file
#            version; the lower version is refused over it; the class's keys are those that
#            regsvr32 writes, in the 32-bit view; kvhost creates the add-in through COM and runs
#            search.txt; kvhost --check passes its registration group; the uninstall leaves no
#            file and no key of ours
#   folder   installs the lower version per machine into a folder whose path has blanks and
#            Cyrillic letters, then the new one, which stays there; kvhost runs
#            check-installation.txt through COM from there; the uninstall leaves nothing of ours
# Exit code 0: everything held; 1: something did not; 77: the packages are sound, but 32-bit
# programs do not run here, so they were not installed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/out}
dir=$(cd "$dir" && pwd) || exit 2
zip=$(ls "$dir"/KelvarinVK-*-win32.zip 2>/dev/null | head -1)
if [ ! -f "$zip" ]; then
    echo "test-installer.sh: no package in $dir; build it with scripts/package.sh" >&2
    exit 2
fi
name=$(basename "$zip" -win32.zip)
version=${name#KelvarinVK-}
machine_msi=$dir/$name.msi user_msi=$dir/$name-user.msi
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-installer-test.XXXXXX")
prefix=
cleanup() {
    [ -n "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
run=$root/scripts/wine-run.sh
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
started=$SECONDS

echo "=== the packages of $name"
unzip -q "$zip" -d "$work/zip" || exit 1
files=$work/zip/$(basename "$zip" .zip)
for msi in "$machine_msi" "$user_msi"; do
    package=$(basename "$msi")
    [ -f "$msi" ] || { fail "$package is missing"; continue; }
    (cd "$dir" && sha256sum --quiet -c "$package.sha256") || fail "$package.sha256 does not match"
    mkdir -p "$work/extracted/$package"
    msiextract -C "$work/extracted/$package" "$msi" >/dev/null || fail "msiextract $package"
    installed=$(ls -d "$work/extracted/$package"/*/KelvarinVK "$work/extracted/$package"/KelvarinVK \
        2>/dev/null | head -1)
    diff -r -x x64 "$files" "$installed" || fail "$package does not install the zip's files (above)"
    # The class is registered by the Registry table alone: a DllRegisterServer that fails
    # midway cannot leave the product half-installed.
    for table in SelfReg CustomAction; do
        rows=$(msiinfo export "$msi" $table 2>/dev/null | tail -n +4)
        [ -z "$rows" ] || fail "$package has rows in its $table table: $rows"
    done
    msiinfo suminfo "$msi" | grep -q '^Template: Intel;' || fail "$package is not a 32-bit package"
done
[ $failures -eq 0 ] || { echo "installer test: $failures failed"; exit 1; }

why=$("$root/scripts/runs-32bit.sh" --why) || {
    [ $? -eq 1 ] || { echo "test-installer.sh: $why" >&2; exit 2; }
    echo "installer test: the packages are sound; not installed, because 32-bit programs do not run here: $why"
    exit 77
}

# A package of a lower version from the same files: its DLL's fixed file version reads 1.9.0.0
# (the four bytes after VS_FIXEDFILEINFO's signature and structure version).
old_version=1.9.0
cp -r "$files" "$work/old"
signature=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$work/old/KelvarinVK.dll" | head -1 | cut -d: -f1)
printf '\x09\x00\x01\x00\x00\x00\x00\x00' |
    dd of="$work/old/KelvarinVK.dll" bs=1 seek=$((signature + 8)) conv=notrunc status=none
"$root/scripts/build-msi.sh" --stage "$work/old" --version $old_version \
    --full-version $old_version+test --out "$work/old-msi" >/dev/null || exit 1

# The prefix every case starts from, made once; each case runs in a fresh copy of it.
KV_WINEPREFIX=$work/template "$run" cmd /c exit 0 >/dev/null || exit 1
WINEPREFIX=$work/template wineserver -w

# Windows paths.
win() { echo "Z:${1//\//\\}"; }

# start_case NAME TITLE: a case in a prefix of its own.
start_case() {
    case_name=$1 case_started=$SECONDS
    echo "=== $1: $2"
    [ -n "$prefix" ] && { WINEPREFIX=$prefix wineserver -k 2>/dev/null; rm -rf "$prefix"; }
    prefix=$work/prefix-$1
    cp -a "$work/template" "$prefix"
    export KV_WINEPREFIX=$prefix
}

# What an install may leave behind: the files of drive C: and the registry's Software keys of
# the machine and the user, Wine's own settings left out.
snapshot() {
    local out=$work/snapshot-$1 hive
    mkdir -p "$out"
    for hive in HKLM HKCU; do
        "$run" reg export "$hive\\Software" 'C:\snapshot.reg' /y >/dev/null || fail "reg export $hive"
        iconv -f UTF-16 -t UTF-8 "$prefix/drive_c/snapshot.reg" | tr -d '\r' |
            awk '/^\[/ { wine = index($0, "\\Software\\Wine\\") || /\\Software\\Wine\]$/ } !wine' \
                >"$out/$hive"
        rm -f "$prefix/drive_c/snapshot.reg"
    done
    (cd "$prefix/drive_c" && find . | LC_ALL=C sort) >"$out/files"
}

# After the uninstall, what was there before and nothing else: only Windows Installer's own
# empty containers (its cache folder, its keys of products and components) may be new; a
# value left in one shows as a line of its own.
compare_snapshots() {
    local what left
    for what in files HKLM HKCU; do
        left=$(diff "$work/snapshot-$1/$what" "$work/snapshot-$2/$what" | grep '^[<>]' |
            grep -v '^> *$' |
            grep -vx -e '> \./windows/Installer' \
                -e '> \[HKEY_[A-Z_]*\\Software\\\(Microsoft\\\(Windows\\CurrentVersion\\\)\{0,1\}\|Classes\\\)Installer\(\\[^]]*\)\{0,1\}\]')
        [ -z "$left" ] || fail "$3: the uninstall changed $what ('>' left behind, '<' taken away):"$'\n'"$left"
    done
}

# msiexec ACTION PACKAGE [PROPERTY=VALUE...], silently.
msiexec() {
    local action=$1 package=$2 status
    shift 2
    "$run" msiexec "$action" "$(win "$package")" "$@" /qn
    status=$?
    [ $status -eq 0 ] || fail "msiexec $action $(basename "$package") $*: exit code $status"
}

# end_case PACKAGE: removes the package and holds what is left against the case's first
# snapshot.
end_case() {
    msiexec /x "$1"
    snapshot "$case_name-after"
    compare_snapshots "$case_name-before" "$case_name-after" "$case_name"
    echo "    $((SECONDS - case_started)) s"
}

# kvhost --check of the installed kvhost: group 1 passes and names this DLL and version.
check_registration() {
    local folder=$1 where=$2 dll_path=$3 dll_version=$4 out=$work/check.txt before=$failures
    (cd "$folder" && "$run" ./kvhost.exe --check --lang en >"$out")
    local group
    group=$(sed -n '/^== 1\./,/^== 2\./p' "$out")
    grep -q '^FAIL' <<<"$group" && fail "kvhost --check: the registration group failed"
    grep -qF "OK    AddIn.KelvarinVK is registered $where, 32-bit registry view, {17921090-116A-402E-8973-8FD73C41CFD8} -> $dll_path" <<<"$group" ||
        fail "kvhost --check does not find the class $where, 32-bit, at $dll_path"
    grep -qF "OK    the DLL file exists: $dll_path, file version $dll_version" <<<"$group" ||
        fail "kvhost --check does not find file version $dll_version"
    [ $failures -eq "$before" ] || cat "$out"
}

# The products installed under KelvarinVK's name, as Programs and Features lists them.
products() {
    "$run" reg export 'HKLM\Software' 'C:\products.reg' /y >/dev/null
    iconv -f UTF-16 -t UTF-8 "$prefix/drive_c/products.reg" | tr -d '\r' |
        awk '/^\[/ { uninstall = index($0, "\\CurrentVersion\\Uninstall\\") > 0 }
             uninstall && /^"DisplayName"="KelvarinVK/ { name = $0 }
             uninstall && /^"DisplayVersion"=/ && name { print name " " $0; name = "" }'
    rm -f "$prefix/drive_c/products.reg"
}

start_case user "per-user install, the examples from it, repair, uninstall"
# The user's own trace setting, which is not the installer's to take away.
"$run" reg add 'HKCU\Software\KelvarinVK' /v Trace /d 'C:\no such folder\trace.log' /f >/dev/null
snapshot "$case_name-before"
msiexec /i "$user_msi"
folder=$(ls -d "$prefix"/drive_c/users/*/AppData/Local/KelvarinVK 2>/dev/null | head -1)
if [ -z "$folder" ]; then
    fail "nothing installed in %LOCALAPPDATA%\\KelvarinVK"
else
    diff -r -x x64 "$files" "$folder" || fail "the installed files are not the package's (above)"
    user=$(basename "$(dirname "$(dirname "$(dirname "$folder")")")")
    dll="C:\\users\\$user\\AppData\\Local\\KelvarinVK\\KelvarinVK.dll"
    "$root/scripts/run-examples.sh" --script tools/kvhost/examples/search.txt "$folder" \
        "created AddIn.KelvarinVK from the current user's classes: $dll" ||
        fail "search.txt from the per-user install"
    check_registration "$folder" "for the current user (HKCU\\Software\\Classes)" "$dll" "$version.0"
    rm "$folder/KelvarinVK.dll"
    msiexec /i "$user_msi" REINSTALL=ALL REINSTALLMODE=omus
    cmp -s "$files/KelvarinVK.dll" "$folder/KelvarinVK.dll" || fail "the repair did not restore KelvarinVK.dll"
fi
end_case "$user_msi"

start_case machine "an upgrade from $old_version per machine, the examples, uninstall"
# What the DLL's own registration writes, to hold the installer's keys against.
regsvr32='C:\windows\syswow64\regsvr32.exe'
# The class's keys as a 32-bit program (1C) sees them, the DLL's path left out: through the
# 32-bit reg, since Wine keeps a 32-bit program's ProgID keys where a 64-bit one's view of
# them does not look.
class_keys() {
    local key
    for key in 'CLSID\{17921090-116A-402E-8973-8FD73C41CFD8}' 'AddIn.KelvarinVK'; do
        "$run" 'C:\windows\syswow64\reg.exe' export "HKLM\\Software\\Classes\\$key" 'C:\keys.reg' /y \
            >/dev/null &&
            iconv -f UTF-16 -t UTF-8 "$prefix/drive_c/keys.reg" | tr -d '\r' | grep -v -e '^Windows Registry Editor' -e '^$' |
            sed 's/^@=".*\\KelvarinVK\.dll"$/@=<the DLL>/'
        rm -f "$prefix/drive_c/keys.reg"
    done
}
"$run" "$regsvr32" /s "$(win "$files/KelvarinVK.dll")" || fail "regsvr32: exit code $?"
class_keys >"$work/regsvr32-keys"
[ "$(grep -c '^\[' "$work/regsvr32-keys")" -eq 5 ] || fail "regsvr32 wrote no five keys:"$'\n'"$(cat "$work/regsvr32-keys")"
"$run" "$regsvr32" /s /u "$(win "$files/KelvarinVK.dll")" || fail "regsvr32 /u: exit code $?"
snapshot "$case_name-before"
msiexec /i "$work/old-msi/KelvarinVK-$old_version.msi"
[ "$(products)" = "\"DisplayName\"=\"KelvarinVK\" \"DisplayVersion\"=\"$old_version\"" ] ||
    fail "after installing $old_version: $(products)"
msiexec /i "$machine_msi"
[ "$(products)" = "\"DisplayName\"=\"KelvarinVK\" \"DisplayVersion\"=\"$version\"" ] ||
    fail "after the upgrade, not one product of version $version: $(products)"
if "$run" msiexec /i "$(win "$work/old-msi/KelvarinVK-$old_version.msi")" /qn; then
    fail "$old_version was installed over $version"
fi
[ "$(products)" = "\"DisplayName\"=\"KelvarinVK\" \"DisplayVersion\"=\"$version\"" ] ||
    fail "after $old_version was refused: $(products)"
folder="$prefix/drive_c/Program Files (x86)/KelvarinVK"
dll='C:\Program Files (x86)\KelvarinVK\KelvarinVK.dll'
diff -r -x x64 "$files" "$folder" || fail "the upgraded files are not the package's (above)"
class_keys >"$work/installer-keys"
diff "$work/regsvr32-keys" "$work/installer-keys" ||
    fail "the installer's class keys (>) are not those of DllRegisterServer (<)"
# And only in the 32-bit view: a 64-bit program does not see the class.
"$run" reg query 'HKLM\Software\Classes\CLSID\{17921090-116A-402E-8973-8FD73C41CFD8}' /reg:64 \
    >/dev/null 2>&1 && fail "the class is registered in the 64-bit registry view too"
"$root/scripts/run-examples.sh" --script tools/kvhost/examples/search.txt "$folder" \
    "created AddIn.KelvarinVK through COM" || fail "search.txt from the per-machine install"
check_registration "$folder" "for the machine (HKLM\\Software\\Classes)" "$dll" "$version.0"
end_case "$machine_msi"

start_case folder "per machine into a folder with blanks and Cyrillic letters, then an upgrade"
# Wine turns Cyrillic into Unix file names and back only under a locale that this machine has;
# ru_RU.UTF-8 is made for this case alone.
mkdir -p "$work/locale"
localedef -i ru_RU -f UTF-8 "$work/locale/ru_RU.UTF-8" 2>/dev/null ||
    [ -d "$work/locale/ru_RU.UTF-8" ] || fail "localedef ru_RU.UTF-8"
export LOCPATH=$work/locale
parent='C:\Программы аптеки'
mkdir -p "$prefix/drive_c/Программы аптеки"
snapshot "$case_name-before"
msiexec /i "$work/old-msi/KelvarinVK-$old_version.msi" "INSTALLDIR=$parent\\KelvarinVK"
msiexec /i "$machine_msi"
folder="$prefix/drive_c/Программы аптеки/KelvarinVK"
diff -r -x x64 "$files" "$folder" || fail "the files in $parent\\KelvarinVK are not the package's"
"$root/scripts/run-examples.sh" --script tools/kvhost/examples/check-installation.txt "$folder" \
    "created AddIn.KelvarinVK through COM" || fail "check-installation.txt from $parent"
check_registration "$folder" "for the machine (HKLM\\Software\\Classes)" \
    "$parent\\KelvarinVK\\KelvarinVK.dll" "$version.0"
end_case "$machine_msi"
unset LOCPATH

if [ $failures -ne 0 ]; then
    echo "installer test: $failures failed"
    exit 1
fi
echo "installer test: $name installs, upgrades, repairs and uninstalls cleanly ($((SECONDS - started)) s)"
