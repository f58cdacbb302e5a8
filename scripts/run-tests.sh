#!/usr/bin/env bash
# Runs every test: the C++ units under ctest, then the Python suite under pytest.
set -euo pipefail
cd "$(dirname "$0")/.."

# What only the tests need: GoogleTest, and Chromium for the viewer page's tests.
test_packages=(
  chromium
  googletest
  libgtest-dev
)
bash scripts/apt-install.sh "${test_packages[@]}"
# The compiler cache of scripts/setup.sh: the tests' build and the wheel's reuse its objects when
# they name the compiler as the set-up's build did (scikit-build-core takes Python's own, as
# sysconfig names it; the cache tells c++ from g++).
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
if [ -z "${CXX:-}" ]; then
  CXX=$(.venv/bin/python -c 'import itertools, sysconfig
words = (sysconfig.get_config_var("CXX") or "").split()
print(*itertools.takewhile(lambda word: not word.startswith("-"), words))')
  if [ -n "$CXX" ]; then export CXX; else unset CXX; fi
fi

echo "== C++ unit tests"
cmake -S . -B build/cpp-tests -G Ninja -DTARNWICK_BUILD_TESTS=ON \
  -DPython_EXECUTABLE="$PWD/.venv/bin/python" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cpp-tests --target tarnwick_cpp_tests
(cd build/cpp-tests && ctest --output-on-failure)

# The scene reads layouts through KLayout's own C++ classes where that module is built, else through
# KLayout's Python API. Both must give the same viewer messages: the whole suite runs with the
# default reader, then the tests that send messages run again through the Python API, and every
# message of a test logged in both runs must be the same.
logs="$PWD/build/message-logs"
rm -rf "$logs" && mkdir -p "$logs"
echo "== Python tests"
# One test worker per core (pytest-xdist, a test package of pyproject.toml): every test keeps to its
# own folders, servers take free ports and each worker starts its own Chromium. A worker takes whole
# files and runs each in order: the component library numbers the names of cells it has seen before
# in the process, so a test's messages, which the run below compares, depend on the tests before it
# in its file. Given arguments come last, so "-n 0" runs in one process.
workers=()
if .venv/bin/python -c 'import xdist' 2>/dev/null; then workers=(-n auto --dist loadfile); fi
TARNWICK_MESSAGE_LOG="$logs/default.jsonl" .venv/bin/python -m pytest "${workers[@]}" "$@"

echo "== viewer messages through KLayout's Python API"
TARNWICK_KLAYOUT_DIRECT=0 TARNWICK_MESSAGE_LOG="$logs/python-api.jsonl" .venv/bin/python -m pytest -q \
  tests/python/depthview/test_entry.py tests/python/depthview/test_view_cli.py \
  tests/python/depthview/test_layout_file.py
status=0
.venv/bin/python scripts/compare-message-logs.py "$logs/default.jsonl" "$logs/python-api.jsonl" \
  || status=$?
# 2: the first run (a selection of tests) logged none of these: nothing to compare.
if [ "$status" -eq 1 ]; then exit 1; fi
