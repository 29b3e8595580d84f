#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan into build-asan/ and runs the suite there;
# any report fails the test it happened in.
# tst_paquete is left out: it packs and starts the release build's package, and a package of
# instrumented programs is nothing anyone installs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-asan -G Ninja -DVELMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug > /dev/null
cmake --build build-asan
# Programs the tests start (the simulator, the panel killed outright) inherit these.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir build-asan --output-on-failure -E '^tst_paquete$' "$@"
