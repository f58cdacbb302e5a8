#!/usr/bin/env bash
# Runs every test: the C++ units under ctest, then the Python suite under pytest.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== C++ unit tests"
cmake -S . -B build/cpp-tests -G Ninja -DTARNWICK_BUILD_TESTS=ON \
  -DPython_EXECUTABLE="$PWD/.venv/bin/python" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cpp-tests --target tarnwick_cpp_tests
(cd build/cpp-tests && ctest --output-on-failure)

echo "== Python tests"
.venv/bin/python -m pytest "$@"
