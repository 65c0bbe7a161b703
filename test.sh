#!/usr/bin/env bash
# Set-up, build, and every test: ./test.sh
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
cd build
ctest --output-on-failure -j2
cd ..
# A few seconds of every fuzz target under the sanitizers (skipped without clang).
./scripts/fuzz_smoke.sh
