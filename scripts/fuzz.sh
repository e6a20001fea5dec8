#!/usr/bin/env bash
# Fuzzes the project file readers and writer for 60 s with ASan and UBSan (libFuzzer, clang).
# Fails on any crash, hang, leak or sanitizer report. FUZZ_SECONDS overrides the duration.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CXX=clang++ CC=clang cmake -S "$root" -B "$build" -DKEL_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" --target fuzz_project_file -j "$(nproc)"

# New inputs go to a scratch corpus; fuzz/corpus holds the seeds and is only read.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$build"
# Every input is written through QSaveFile, which syncs to disk: keep the files in memory.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
if ./fuzz/fuzz_project_file -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -max_len=8192 -print_final_stats=1 "$work" "$root/fuzz/corpus"; then
  echo "fuzz_project_file: no crash, hang or sanitizer report in ${seconds} s"
else
  echo "fuzz_project_file: FAILED (reproducer saved in $build as crash-*, timeout-* or leak-*)" >&2
  exit 1
fi
