#!/usr/bin/env bash
# Sets up, builds, and runs the whole test suite (with a short fuzzing smoke run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
bash scripts/fuzz.sh 20
ctest --test-dir build --output-on-failure
