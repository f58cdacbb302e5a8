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

echo "== Python tests"
# One test worker per core (pytest-xdist, a test package of pyproject.toml): every test keeps to its
# own folders, servers take free ports and each worker starts its own Chromium. Given arguments
# come last, so "-n 0" runs in one process.
workers=()
if .venv/bin/python -c 'import xdist' 2>/dev/null; then workers=(-n auto); fi
.venv/bin/python -m pytest "${workers[@]}" "$@"

# The scene reads layouts through KLayout's own C++ classes where that module is built, else through
# KLayout's Python API. Both must give the same viewer messages: the tests that send messages run
# once with the default reader and once through the Python API, each run in one process and in the
# same order (the component library numbers the names of cells it has seen before in the process,
# so a test's messages depend on the tests before it), and every test must log the same messages.
echo "== viewer messages through the default reader and through KLayout's Python API"
logs="$PWD/build/message-logs"
rm -rf "$logs" && mkdir -p "$logs"
message_tests=(tests/python/depthview/test_entry.py tests/python/depthview/test_view_cli.py
  tests/python/depthview/test_layout_file.py)
TARNWICK_MESSAGE_LOG="$logs/default.jsonl" .venv/bin/python -m pytest -q "${message_tests[@]}"
TARNWICK_KLAYOUT_DIRECT=0 TARNWICK_MESSAGE_LOG="$logs/python-api.jsonl" .venv/bin/python -m pytest -q \
  "${message_tests[@]}"
.venv/bin/python scripts/compare-message-logs.py "$logs/default.jsonl" "$logs/python-api.jsonl"
