#!/usr/bin/env bash
# Checks the import tables of the x86_64 and the i686 DLL: only the system's own DLLs, and
# none of the functions that Windows XP lacks. Prints every imported function.
#   check_imports.sh OBJDUMP64 DLL64 OBJDUMP32 DLL32
set -u
allowed='^(kernel32|user32|advapi32|ole32|oleaut32|gdi32|comctl32|msvcrt)\.dll$'
# Functions that came after Windows XP and that a mingw runtime is known to pull in.
newer='^(GetTickCount64|InitializeSRWLock|AcquireSRWLock(Exclusive|Shared)|ReleaseSRWLock(Exclusive|Shared)|TryAcquireSRWLock(Exclusive|Shared)|InitializeConditionVariable|SleepConditionVariable(CS|SRW)|WakeConditionVariable|WakeAllConditionVariable|InitOnce(ExecuteOnce|BeginInitialize|Complete|Initialize)|FlsAlloc|FlsFree|FlsGetValue|FlsSetValue|GetLocaleInfoEx|LCIDToLocaleName|LocaleNameToLCID|CompareStringEx|GetFinalPathNameByHandle[AW]|CreateSymbolicLink[AW]|GetSystemTimePreciseAsFileTime|QueryFullProcessImageName[AW]|SetThreadStackGuarantee|GetCurrentProcessorNumber|CancelIoEx|GetQueuedCompletionStatusEx|CreateEventEx[AW]|CreateMutexEx[AW]|CreateSemaphoreEx[AW]|InitializeCriticalSectionEx|GetErrorMode|RegGetValue[AW]|RegDeleteTree[AW]|RegSetKeyValue[AW]|RegCopyTree[AW])$'

failed=0
check() {
    local objdump=$1 dll=$2 dlls names
    echo "== $dll"
    if ! listing=$("$objdump" -p "$dll"); then
        echo "cannot read $dll"
        failed=1
        return
    fi
    # "DLL Name: X" starts a block; each import line is "<hint-rva> <hint> <name>".
    echo "$listing" | awk '
        /^\tDLL Name:/ { dll = $3; next }
        dll != "" && /^\t[0-9a-f]+\t +[0-9]+  / { print dll, $3; next }
        /^$/ { dll = "" }
    ' >"$work/imports"
    dlls=$(echo "$listing" | sed -n 's/^\tDLL Name: //p')
    for name in $dlls; do
        lower=$(echo "$name" | tr 'A-Z' 'a-z')
        if ! [[ $lower =~ $allowed ]]; then
            echo "not a system DLL: $name"
            failed=1
        fi
        functions=$(awk -v d="$name" '$1 == d { print $2 }' "$work/imports" | sort | tr '\n' ' ')
        echo "$name: $functions"
        for f in $functions; do
            if [[ $f =~ $newer ]]; then
                echo "newer than Windows XP: $name!$f"
                failed=1
            fi
        done
    done
    [ -n "$dlls" ] || { echo "no imports found in $dll"; failed=1; }
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check "$1" "$2"
if [ -z "${3:-}" ] || [ ! -f "${4:-}" ]; then
    echo "the other architecture's DLL (${4:-not given}) is not built: build its preset first"
    exit 77
fi
check "$3" "$4"
[ $failed -eq 0 ] && echo "IMPORTS OK"
exit $failed
