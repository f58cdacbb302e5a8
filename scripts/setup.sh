#!/usr/bin/env bash
# Installs what tarnwick needs on a fresh Debian 12 machine (run as root) and builds it: the Debian
# packages, the project virtual environment .venv, the compiled modules (editable install: an
# import after a C++ edit rebuilds what changed) and the viewer's JavaScript. What only the tests
# need (Chromium, GoogleTest) is installed by scripts/run-tests.sh. Ends with the time of each step.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian packages of the build and of the main job, one a line.
apt_packages=(
  build-essential
  ccache
  cmake
  libgeos-dev
  libtinygltf-dev
  ninja-build
  pkg-config
  python3-dev
  python3-venv
)
command -v npm >/dev/null 2>&1 || apt_packages+=(nodejs npm)

step_times=()
step_name=""
step_start=$SECONDS
step() { # ends the running step, noting its time, and starts the next one
  [ -z "$step_name" ] || step_times+=("$step_name $((SECONDS - step_start)) s")
  step_name=$1
  step_start=$SECONDS
}

step "Debian packages"
bash scripts/apt-install.sh "${apt_packages[@]}"
# With a compiler cache, every later build of the same sources is cheap: the tests' own build, the
# wheel's, the next clone's. CMake keeps the launcher for the rebuilds on import.
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi

step "Python packages"
python=${PYTHON:-python3.11}
command -v "$python" >/dev/null 2>&1 || python=python3
if [ ! -x .venv/bin/python ]; then
  echo "== creating .venv with $python"
  "$python" -m venv .venv
fi
echo "== installing Python packages"
.venv/bin/python -m pip install -q --upgrade pip
# The project's dependencies and test tools, KLayout first: the build reads KLayout's C++ headers
# from the sdist of exactly the installed version, which is fetched while the others install.
mapfile -t requirements < <(.venv/bin/python - <<'EOF'
import re
import tomllib

project = tomllib.load(open("pyproject.toml", "rb"))["project"]
wanted = project["dependencies"] + project["optional-dependencies"]["test"]
wanted.sort(key=lambda requirement: re.split(r"[^\w.-]", requirement)[0] != "klayout")
print(*wanted, sep="\n")
EOF
)
.venv/bin/python -m pip install -q "scikit-build-core>=0.10" "nanobind>=2.4" ninja "${requirements[0]}"
mkdir -p build
: >build/fetch-klayout-headers.log
fetching=""
# TARNWICK_KLAYOUT_DIRECT=0 (the scene reads through KLayout's Python API): no headers, no direct
# reader built.
if [ "${TARNWICK_KLAYOUT_DIRECT:-1}" != 0 ]; then
  bash scripts/fetch-klayout-headers.sh >build/fetch-klayout-headers.log 2>&1 &
  fetching=$!
fi
.venv/bin/python -m pip install -q "${requirements[@]:1}"
# A failed fetch is only a warning: the direct reader is then left out.
[ -z "$fetching" ] || wait "$fetching" || true
cat build/fetch-klayout-headers.log

step "compiled modules"
# The viewer's JavaScript is installed and bundled meanwhile (mostly download).
viewer=""
if [ -f viewer/package.json ]; then
  (
    cd viewer
    npm ci --no-audit --no-fund --loglevel=error
    if grep -q '"build"' package.json; then npm run --silent build; fi
  ) >build/viewer-setup.log 2>&1 &
  viewer=$!
fi
echo "== building the compiled modules"
.venv/bin/python -m pip install -q --no-deps --no-build-isolation -Ceditable.rebuild=true -e .

step "viewer page"
if [ -n "$viewer" ]; then
  echo "== installing and bundling the viewer's JavaScript"
  status=0
  wait "$viewer" || status=$?
  cat build/viewer-setup.log
  [ "$status" -eq 0 ] || exit "$status"
fi

step ""
echo "== $SECONDS s: $(IFS=,; echo "${step_times[*]}" | sed 's/,/, /g')"
echo "== set-up done"
