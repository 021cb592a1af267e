#!/usr/bin/env bash
# Checks the built Windows binaries without running them, so that they are checked on machines
# that cannot run them too: each file's processor, a DLL's exports against its .def file, and
# every version resource (the project's version in the numbers and the texts, the commit in the
# product version, the file's own name).
#   check_binaries.sh OBJDUMP i686|x86_64 VERSION VERSION_FULL FILE[=DEF]...
# A FILE given with =DEF must export exactly what DEF names.
set -u
if [ $# -lt 5 ]; then
    echo "usage: $0 OBJDUMP i686|x86_64 VERSION VERSION_FULL FILE[=DEF]..." >&2
    exit 2
fi
objdump=$1 processor=$2 version=$3 version_full=$4
shift 4
case $processor in
    i686) format=pei-i386 machine="Intel 386 or later, and compatibles" ;;
    x86_64) format=pei-x86-64 machine="AMD AMD64" ;;
    *)
        echo "unknown processor $processor" >&2
        exit 2
        ;;
esac
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

for argument in "$@"; do
    file=${argument%%=*} def=
    [ "$file" != "$argument" ] && def=${argument#*=}
    name=$(basename "$file")
    echo "== $name"
    [ -f "$file" ] || {
        fail "$file is not built"
        continue
    }
    said=$("$objdump" -f "$file" | sed -n 's/.*file format //p')
    [ "$said" = "$format" ] || fail "$name is $said, not $format"

    # exiftool reads the version resource as the system's version functions do.
    declare -A info=()
    while IFS=': ' read -r key value; do
        info[$key]=$value
    done < <(exiftool -S -charset UTF8 -MachineType -ObjectFileType -FileVersionNumber \
        -ProductVersionNumber -FileVersion -ProductVersion -OriginalFileName -ProductName \
        -FileDescription "$file")
    expect() {
        [ "${info[$1]:-(missing)}" = "$2" ] || fail "$name: $1 is '${info[$1]:-(missing)}', not '$2'"
    }
    expect MachineType "$machine"
    if [ "${name##*.}" = dll ]; then
        expect ObjectFileType "Dynamic link library"
    else
        expect ObjectFileType "Executable application"
    fi
    expect FileVersionNumber "$version.0"
    expect ProductVersionNumber "$version.0"
    expect FileVersion "$version.0"
    expect ProductVersion "$version_full"
    expect OriginalFileName "$name"
    expect ProductName KelvarinVK
    [ -n "${info[FileDescription]:-}" ] || fail "$name has no FileDescription"
    echo "$name: ${info[MachineType]}, ${info[FileVersion]:-}, ${info[ProductVersion]:-}"
    unset info

    # Exactly what the .def file names, undecorated.
    [ -n "$def" ] || continue
    want=$(sed -n 's/^ \{1,\}\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p' "$def" | sort)
    have=$("$objdump" -p "$file" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | sort)
    [ -n "$want" ] || fail "$def names no exports"
    [ "$want" = "$have" ] || fail "$name exports $(echo $have), its .def names $(echo $want)"
    echo "$name exports: $(echo $have)"
done

[ $failed -eq 0 ] && echo "BINARIES OK"
exit $failed
