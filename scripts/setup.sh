#!/usr/bin/env bash
# Installs everything tarnwick needs on a fresh Debian 12 machine (run as root) and builds it:
# the Debian packages, the project virtual environment .venv, the compiled modules (editable
# install: an import after a C++ edit rebuilds what changed) and the viewer's JavaScript.
set -euo pipefail
cd "$(dirname "$0")/.."

apt_packages=(build-essential cmake ninja-build pkg-config libgeos-dev googletest libgtest-dev
  python3-venv python3-dev chromium libtinygltf-dev)
missing=()
for package in "${apt_packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "== apt-get install ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

python=${PYTHON:-python3.11}
command -v "$python" >/dev/null 2>&1 || python=python3
if [ ! -x .venv/bin/python ]; then
  echo "== creating .venv with $python"
  "$python" -m venv .venv
fi
echo "== installing Python packages"
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q "scikit-build-core>=0.10" "nanobind>=2.4" ninja
# KLayout first: the build reads its C++ headers from the sdist of exactly the installed version.
klayout_requirement=$(.venv/bin/python -c '
import tomllib
dependencies = tomllib.load(open("pyproject.toml", "rb"))["project"]["dependencies"]
print(next(d for d in dependencies if d.split(">")[0].split("=")[0].strip() == "klayout"))')
.venv/bin/python -m pip install -q "$klayout_requirement"
bash scripts/fetch-klayout-headers.sh
.venv/bin/python -m pip install -q --no-build-isolation -Ceditable.rebuild=true -e ".[test]"

if [ -f viewer/package.json ]; then
  echo "== installing the viewer's JavaScript"
  (cd viewer && npm ci --no-audit --no-fund --loglevel=error)
  if grep -q '"build"' viewer/package.json; then (cd viewer && npm run --silent build); fi
fi
echo "== set-up done"
