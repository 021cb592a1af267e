#!/usr/bin/env bash
# Builds every configuration and runs every test: native, native under ASan+UBSan, the
# Windows x86_64 build under wine64, and the shipped Windows i686 build under 32-bit Wine, in a
# 64-bit Windows (WoW64) and in a 32-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

status=0
for preset in native asan mingw64 mingw32; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
for preset in native asan mingw64 mingw32; do
    echo "=== $preset: tests"
    ctest --preset "$preset" || status=1
done
echo "=== fuzz: every target over its corpus, then a short run of each"
scripts/fuzz-smoke.sh || status=1
echo "=== package: built twice from two clones and compared, then unpacked and run"
{ scripts/package.sh --check && scripts/test-package.sh; } || status=1
echo "=== installers: their tables, then installed, upgraded, repaired and removed under Wine"
scripts/test-installer.sh || [ $? -eq 77 ] || status=1
exit $status
