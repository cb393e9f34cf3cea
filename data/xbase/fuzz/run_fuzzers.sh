#!/bin/sh
# Builds the xBase fuzzers with clang (libFuzzer, ASan, UBSan) and runs each for a bounded time.
#   run_fuzzers.sh SOURCE_DIR BUILD_DIR [SECONDS]
# Exit 77 (skipped) when clang or libFuzzer is missing.
set -eu
src=$1
out=$2
seconds=${3:-15}
command -v clang++ >/dev/null 2>&1 || { echo "clang++ not found: fuzzers skipped"; exit 77; }
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
if ! cmake -S "$src" -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug $launcher >"$out.log" 2>&1 ||
   ! cmake --build "$out" >>"$out.log" 2>&1; then
  if grep -q "fsanitize=fuzzer" "$out.log" && grep -qi "libclang_rt.fuzzer\|cannot find" "$out.log"; then
    echo "libFuzzer runtime missing: fuzzers skipped"; exit 77
  fi
  cat "$out.log"; exit 1
fi
# The targets' scratch files go into the build folder, cleared on each run.
export TMPDIR="$out/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
corpus="$out/corpus"
rm -rf "$corpus"
mkdir -p "$corpus/dbf" "$corpus/cdx" "$corpus/expr"
"$out/xbase_fuzz_seeds" "$corpus"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in dbf cdx expr; do
  mkdir -p "$out/artifacts/$target"
  echo "fuzzing $target for ${seconds}s"
  "$out/xbase_fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$out/artifacts/$target/" -print_final_stats=1 "$corpus/$target" 2>"$out/$target.log" ||
    { tail -60 "$out/$target.log"; exit 1; }
  grep -E "stat::number_of_executed_units|Done" "$out/$target.log" | head -2
done
