#!/usr/bin/env bash
# Runs a command as on a machine whose kernel cannot run 32-bit programs:
#   tests/without-32bit.sh COMMAND [ARGS...]
# KV_NO_32BIT=1 makes the project's probe (scripts/runs-32bit.sh) answer "no". As root, the
# command also runs in a private mount namespace in which the i386 program loader and 32-bit
# Wine's loader are covered by a file that the kernel refuses, as such a kernel refuses every
# i386 program: whatever still starts a 32-bit program fails here as it would there, instead of
# passing because this machine happens to run it.
set -euo pipefail
if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi
export KV_NO_32BIT=1
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "without-32bit.sh: not root: only KV_NO_32BIT is set, 32-bit programs would still start" >&2
    exec "$@"
fi
refused=$(mktemp "${TMPDIR:-/tmp}/kv-refused.XXXXXX")
trap 'rm -f "$refused"' EXIT
# An ELF header cut short: execve answers "Exec format error".
printf '\x7fELF\x01\x01\x01' >"$refused"
chmod 755 "$refused"
# shellcheck disable=SC2016 # expanded by the inner shell
unshare --mount --propagation private bash -c '
    refused=$1
    shift
    for loader in /lib/ld-linux.so.2 /usr/lib/wine/wine; do
        [ -e "$loader" ] && mount --bind "$refused" "$loader"
    done
    "$@"
' without-32bit "$refused" "$@"
