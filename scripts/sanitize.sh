#!/usr/bin/env bash
# Builds the compiled modules and the C++ unit tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in build/sanitize (apart from the normal build, which stays as it
# is), runs the C++ tests, then runs the depthview Python tests against the sanitized modules.
# Any sanitizer report fails the run. The browser tests of the viewer page are left out: the
# browser would inherit the preloaded sanitizer runtime, and they test no compiled code.
#
#   bash scripts/sanitize.sh [extra pytest arguments]
#
# Needs the project set up (scripts/setup.sh): .venv with the Python dependencies, GEOS, GoogleTest.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/sanitize
python=$root/.venv/bin/python
start=$(date +%s)

sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
echo "== configuring and building with $sanitizers"
cmake -S . -B "$build" -G Ninja \
  -DPython_EXECUTABLE="$python" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" \
  -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" \
  -DTARNWICK_BUILD_TESTS=ON -DTARNWICK_STUBS=OFF >/dev/null
cmake --build "$build"

# Reports go to files as well: pytest captures the output of a test that the runtime stops.
reports=$build/reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:detect_stack_use_after_return=1:log_path=$reports/asan
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan
show_reports() {
  local status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "== sanitizer reports"
    cat "$reports"/*
    status=1
  fi
  exit $status
}
trap show_reports EXIT

echo "== C++ unit tests under the sanitizers"
(cd "$build" && ctest --output-on-failure)

# The Python package from the source tree, with the sanitized modules in place of the normal
# ones: a tree of links in build/sanitize/site. The interpreter runs without its site
# initialisation (-S) so the editable install's import hook cannot bring in the normal modules;
# the virtual environment's packages are reached through PYTHONPATH instead.
site=$build/site
rm -rf "$site"
mkdir -p "$site"
cp -rs "$root/python/tarnwick" "$site/"
for module in "$build"/src/tarnwick/core/*/*.cpython-*.so; do
  ln -sf "$module" "$site/tarnwick/core/"
done
packages=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')

echo "== depthview Python tests under the sanitizers"
# The interpreter itself is not instrumented: the runtime is preloaded so that it comes first,
# with the C++ library (the runtime finds the C++ exception functions it wraps only if that is
# loaded when it starts), and Python's own allocator is bypassed so that the modules' memory
# errors are seen.
LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so.6)" \
  PYTHONMALLOC=malloc \
  PYTHONPATH="$site:$root/python:$packages" \
  "$python" -S -m pytest tests/python/depthview -v -p no:cacheprovider \
  --ignore=tests/python/depthview/test_viewer_page.py "$@"

echo "== sanitizer run done in $(($(date +%s) - start)) s"
