#!/usr/bin/env bash
# Runs every fuzz target (tests/fuzz) under libFuzzer with ASan and UBSan for
# the given number of seconds each (default 60), in its own build folder
# (build-fuzz, or $NV_FUZZ_BUILD_DIR). New inputs that reach new code are merged
# into tests/fuzz/corpus/<target>/; a crash or a broken invariant is kept as
# <build>/crashes/<target>-crash-* and the script ends with an error. Copy such
# an input to tests/fuzz/corpus/<target>/repro-<what> once the fault is mended.
# Usage: scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${NV_FUZZ_BUILD_DIR:-build-fuzz}

scripts/deps.sh
# libFuzzer comes with clang's runtime libraries (libclang-rt-14-dev).
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' \
  >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNV_FUZZ=ON \
  -DNV_BUILD_GUI=OFF -DNV_BUILD_BENCH=OFF
cmake --build "$build" --target fuzz_all

if (($#)); then targets=("$@"); else
  targets=()
  for f in tests/fuzz/*_fuzz.cpp; do n=$(basename "$f" _fuzz.cpp); targets+=("$n"); done
fi
mkdir -p "$build/crashes" "$build/work"
failed=()
for t in "${targets[@]}"; do
  corpus=tests/fuzz/corpus/$t
  work=$build/work/$t
  mkdir -p "$corpus" "$work"
  echo "== $t: ${seconds}s"
  if ! ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/tests/fuzz/fuzz_$t" "$work" "$corpus" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -artifact_prefix="$build/crashes/$t-" -print_final_stats=1 2>"$build/work/$t.log"; then
    failed+=("$t")
    tail -n 40 "$build/work/$t.log"
    continue
  fi
  grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$build/work/$t.log" || true
  # Keep only inputs that add coverage to what the corpus already reaches.
  "$build/tests/fuzz/fuzz_$t" -merge=1 "$corpus" "$work" >/dev/null 2>&1 || true
  rm -rf "$work"
done
if ((${#failed[@]})); then
  echo "fuzz findings in: ${failed[*]} (inputs under $build/crashes)"
  exit 1
fi
echo "no findings in ${#targets[@]} targets"
