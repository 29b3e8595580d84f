#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the receive path's and the log reader's) and runs
# each for the given seconds (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
segundos="${1:-60}"
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-fuzz --target fuzz_adquisicion fuzz_lector
export QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
# A finding fails the run (with pipefail, a status read after "|| true" would be true's own).
rc=0
for objetivo in fuzz_adquisicion fuzz_lector; do
  corpus=build-fuzz/corpus
  [ "$objetivo" = fuzz_lector ] && corpus=build-fuzz/corpus-lector
  mkdir -p "$corpus"
  ./build-fuzz/$objetivo -max_total_time="$segundos" -max_len=4096 -timeout=20 \
    -print_final_stats=1 "$corpus" > build-fuzz/$objetivo.log 2>&1 || rc=$?
  echo "$objetivo:"
  grep -E 'stat::number_of_executed_units|Done|ERROR|invariante|SUMMARY|crash-' build-fuzz/$objetivo.log || true
done
exit "$rc"
