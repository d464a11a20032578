#!/usr/bin/env bash
# Builds and runs every test: the Linux build, the sanitizer builds, the
# Windows build under Wine and the bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== Linux build and tests, Linux package"
cmake --preset linux
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"
linux_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/linux/CMakeCache.txt)
(cd build/linux && cpack)
/usr/bin/python3 tests/package/check_package.py tarball \
  "build/linux/package/Kestrelumen-$linux_version-linux-x86_64.tar.gz" build/linux

# Sanitizer settings for the runs below. What is suppressed is inside
# OpenImageIO, which is not built with the sanitizers: one leak in its PNG
# reader on corrupt files (fuzz/lsan-suppressions.txt) and its own thread
# pool (tests/robust/tsan-suppressions.txt). halt_on_error makes every
# undefined-behaviour report fail its test, also the float-to-integer
# overflow check, which GCC keeps outside "undefined" and so recoverable.
# ThreadSanitizer's deadlock detector tracks at most 64 locks held at once
# by a thread and aborts its own run past that (seen at the exit of a test
# process that had driven the tool many times), so it is off; races are still
# reported.
sanitizer_env=(
  "LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan-suppressions.txt:print_suppressions=0"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "TSAN_OPTIONS=halt_on_error=1:detect_deadlocks=0:suppressions=$PWD/tests/robust/tsan-suppressions.txt"
)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build, whole test suite"
stage_start=$(date +%s)
cmake --preset asan
cmake --build --preset asan -j "$jobs"
env "${sanitizer_env[@]}" ctest --preset asan -j "$jobs"
echo "AddressSanitizer stage: $(( $(date +%s) - stage_start )) s"

echo "== ThreadSanitizer build, whole test suite"
stage_start=$(date +%s)
cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
env "${sanitizer_env[@]}" ctest --preset tsan -j "$jobs"
echo "ThreadSanitizer stage: $(( $(date +%s) - stage_start )) s"

echo "== libFuzzer: seed corpora once, then each fuzzer for ${KESTRELUMEN_FUZZ_SECONDS:-60} s"
stage_start=$(date +%s)
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
env "${sanitizer_env[@]}" ctest --test-dir build/fuzz/fuzz --output-on-failure -j "$jobs"
# Each fuzzer works on a copy of its seed corpus, so the repository keeps
# only the small hand-made seeds; findings land in build/fuzz/findings/.
# Fuzzers run two at a time, one per core. The decoders size buffers from
# corrupt headers before checking them (OpenEXR up to 2 GiB for an
# attribute, OpenImageIO's TIFF reader by a rows-per-strip larger than the
# image, gigabytes that are never touched), so single allocations are not
# limited, only the memory really used. The tool parks stderr while a
# decoder runs, so sanitizer reports go to files that a failure prints.
run_fuzzer() {
  local name=$1 work=build/fuzz/runs/$1
  rm -rf "$work" && mkdir -p "$work/corpus" build/fuzz/findings
  cp "fuzz/corpus/$name/." "$work/corpus/" -r
  if env "${sanitizer_env[@]}" TMPDIR="$work" ASAN_OPTIONS="log_path=$PWD/$work/report" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$PWD/$work/report" \
      "build/fuzz/fuzz/fuzz_$name" \
      -max_total_time="${KESTRELUMEN_FUZZ_SECONDS:-60}" -rss_limit_mb=4096 \
      -malloc_limit_mb=65536 -timeout=60 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$name-" \
      "$work/corpus" > "$work/log" 2>&1; then
    echo "fuzz_$name: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') executions," \
      "corpus $(ls "$work/corpus" | wc -l) files"
  else
    tail -n 40 "$work/log"
    cat "$work"/report.* 2>/dev/null | head -n 80
    echo "fuzz_$name: FAILED, reproducer in build/fuzz/findings/"
    return 1
  fi
}
fuzz_failed=0
run_fuzzer kernels & pid_a=$!
run_fuzzer load_png & pid_b=$!
wait $pid_a || fuzz_failed=1
wait $pid_b || fuzz_failed=1
run_fuzzer load_tiff & pid_a=$!
run_fuzzer load_exr & pid_b=$!
wait $pid_a || fuzz_failed=1
wait $pid_b || fuzz_failed=1
[ "$fuzz_failed" -eq 0 ]
echo "Fuzz stage: $(( $(date +%s) - stage_start )) s"

echo "== Windows build (mingw), PE check, Wine check against the Linux build, Windows package"
stage_start=$(date +%s)
cmake --preset mingw
cmake --build --preset mingw -j "$jobs"
# The build strips the .aex in place; every check below reads those bytes.
/usr/bin/python3 tests/windows/check_pe.py build/mingw/plugin/Kestrelumen.aex \
  build/mingw/resources/Kestrelumen.pipl build/mingw/resources/Kestrelumen.manifest
tests/windows/run-wine-check.sh build/mingw build/linux
win_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw/CMakeCache.txt)
win_zip="build/mingw/package/Kestrelumen-$win_version-win64.zip"
(cd build/mingw && cpack)
/usr/bin/python3 tests/package/check_package.py zip "$win_zip" build/mingw/plugin/Kestrelumen.aex
echo "Windows stage: $(( $(date +%s) - stage_start )) s; artifacts $win_zip," \
  "build/mingw/plugin/Kestrelumen.aex and its debug file build/mingw/plugin/Kestrelumen.aex.debug"
