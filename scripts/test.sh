#!/usr/bin/env bash
# Sets up, builds, and runs the whole test suite (with a short fuzzing smoke run), the same
# suite built with AddressSanitizer and UBSan, and the Windows syntax check.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
bash scripts/fuzz.sh 20
bash scripts/windows-sintaxis.sh
bash scripts/test-asan.sh
ctest --test-dir build --output-on-failure
