#!/bin/sh
# Builds the readers' fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a short,
# bounded time from its seed corpus. Fails on the first crash, leak, hang or sanitizer report.
#   run_fuzzers.sh SOURCE_DIR BUILD_DIR SECONDS_PER_TARGET
# Other fuzz projects run through it with ZN_FUZZ_PROJECT (their folder below SOURCE_DIR),
# ZN_FUZZ_TARGETS (their targets' names without "fuzz_") and ZN_FUZZ_LEAKS=0 when a library they
# link keeps memory to the end.
set -eu
src=$1
project=${ZN_FUZZ_PROJECT:-faxdoc/fuzz}
targets=${ZN_FUZZ_TARGETS:-apf tif pcx dcx bmp txt}
build=$2
seconds=${3:-5}
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
generator=""
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
mkdir -p "$build"
if ! { cmake -S "$src/$project" -B "$build" $generator -DCMAKE_CXX_COMPILER=clang++ $launcher &&
       cmake --build "$build" -j "$(nproc)"; } >"$build/build.log" 2>&1; then
  tail -40 "$build/build.log"
  echo "the fuzz targets did not build"
  exit 1
fi

export ASAN_OPTIONS=detect_leaks=${ZN_FUZZ_LEAKS:-1}:abort_on_error=1
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in $targets; do
  work="$build/run-$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  cp "$src/$project/corpus/$target/"* "$work/corpus/"
  if TMPDIR="$work/tmp" "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=512 -max_len=65536 \
      -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1; then
    echo "fuzz_$target: $(grep -o 'Done [0-9]* runs' "$work/log" | tail -1)"
  else
    echo "fuzz_$target FAILED; log and crashing input in $work"
    tail -40 "$work/log"
    status=1
  fi
done
exit $status
