#!/usr/bin/env bash
# Whether this machine runs 32-bit (i386) programs. Some kernels are built or booted without
# IA-32 emulation: there every i386 program, 32-bit Wine included, fails with "Exec format
# error", and the i686 build can be built and inspected but not run. Every script and test
# asks here; nothing else guesses.
#   scripts/runs-32bit.sh                   exit 0: it does; 1: it does not; 2: cannot tell
#   scripts/runs-32bit.sh --why             the same, and prints the answer as one line
#   scripts/runs-32bit.sh --or-skip CMD...  runs CMD where it does; elsewhere prints why not
#                                           and exits 77 (CTest's skip code for these tests)
# KV_NO_32BIT=1 makes the answer "no" on any machine, so that the fallback paths can be run
# where 32-bit programs work too.
set -uo pipefail

# The answer, as "yes" or the reason why not; status 0, 1 or 2 as above.
probe() {
    if [ "${KV_NO_32BIT:-0}" != 0 ]; then
        echo "KV_NO_32BIT is set"
        return 1
    fi
    local dir status32 status64 said
    dir=$(mktemp -d "${TMPDIR:-/tmp}/kv-runs-32bit.XXXXXX") || {
        echo "no temporary folder to run the probe in"
        return 2
    }
    # Two minimal static programs that only exit: with 32 (i386, int 0x80) and with 64
    # (x86_64, syscall). The 64-bit one shows that the folder lets programs run at all.
    printf '%b' \
        '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' \
        '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
        '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00' \
        '\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x20\x00\x00\x00\xcd\x80' \
        >"$dir/i386"
    printf '%b' \
        '\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x3e\x00\x01\x00\x00\x00' \
        '\x78\x00\x40\x00\x00\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
        '\x00\x00\x00\x00\x40\x00\x38\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x05\x00\x00\x00' \
        '\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\x40\x00\x00\x00\x00\x00' \
        '\x84\x00\x00\x00\x00\x00\x00\x00\x84\x00\x00\x00\x00\x00\x00\x00\x00\x10\x00\x00\x00\x00\x00\x00' \
        '\xb8\x3c\x00\x00\x00\xbf\x40\x00\x00\x00\x0f\x05' >"$dir/x86_64"
    chmod +x "$dir/i386" "$dir/x86_64"
    "$dir/x86_64" 2>/dev/null
    status64=$?
    said=$("$dir/i386" 2>&1)
    status32=$?
    rm -rf "$dir"
    if [ $status64 -ne 64 ]; then
        echo "cannot tell: a 64-bit test program in ${TMPDIR:-/tmp} did not run (exit code $status64)"
        return 2
    fi
    if [ $status32 -eq 32 ]; then
        echo yes
        return 0
    fi
    # bash reports the kernel's refusal as "...: cannot execute binary file: Exec format error".
    said=${said##*: }
    echo "the kernel does not run i386 programs (${said:-exit code $status32})"
    return 1
}

case "${1:-}" in
    "")
        probe >/dev/null
        ;;
    --why)
        probe
        ;;
    --or-skip)
        shift
        if [ $# -eq 0 ]; then
            echo "usage: $0 --or-skip COMMAND [ARGS...]" >&2
            exit 2
        fi
        answer=$(probe)
        case $? in
            0) exec "$@" ;;
            1)
                echo "SKIPPED: this machine cannot run 32-bit programs: $answer"
                exit 77
                ;;
            *)
                echo "runs-32bit.sh: $answer" >&2
                exit 2
                ;;
        esac
        ;;
    *)
        echo "usage: $0 [--why | --or-skip COMMAND [ARGS...]]" >&2
        exit 2
        ;;
esac
