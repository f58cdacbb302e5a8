#!/usr/bin/env bash
# Puts the C++ headers of the installed KLayout where the build looks for them:
# build/klayout-sdist/klayout-<version>/ (PKG-INFO and src/{tl,gsi,db,pya}/*/*.h of the klayout
# sdist of exactly the installed version). With them, the build adds the optional module of direct
# KLayout access; without them (no network, no such sdist) it is left out and everything works
# through KLayout's Python API, so a failure here is a warning, never an error.
set -uo pipefail
cd "$(dirname "$0")/.."
python=.venv/bin/python

version=$("$python" -c 'import importlib.metadata as m; print(m.version("klayout"))' 2>/dev/null)
if [ -z "$version" ]; then
  echo "== no klayout installed: direct KLayout access is not built" >&2
  exit 0
fi
target=build/klayout-sdist/klayout-$version
if [ -f "$target/PKG-INFO" ] && [ -f "$target/src/db/db/dbLayout.h" ]; then
  exit 0
fi

echo "== fetching the C++ headers of klayout $version (its sdist)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! "$python" -m pip download -q --no-binary :all: --no-deps \
    "klayout==$version" -d "$scratch" >"$scratch/pip.log" 2>&1; then
  echo "== could not fetch the klayout $version sdist: direct KLayout access is not built" >&2
  tail -n 3 "$scratch/pip.log" >&2
  exit 0
fi
archive=$(find "$scratch" -maxdepth 1 -name "klayout-$version.tar.gz" | head -n 1)
mkdir -p "$scratch/unpacked"
if [ -z "$archive" ] || ! tar -xzf "$archive" -C "$scratch/unpacked" --wildcards --no-wildcards-match-slash \
    "klayout-$version/PKG-INFO" "klayout-$version/src/tl/tl/*.h" "klayout-$version/src/gsi/gsi/*.h" \
    "klayout-$version/src/db/db/*.h" "klayout-$version/src/pya/pya/*.h"; then
  echo "== the klayout $version sdist has not the expected headers: direct KLayout access is not built" >&2
  exit 0
fi
mkdir -p build/klayout-sdist
rm -rf "$target"
mv "$scratch/unpacked/klayout-$version" "$target"
echo "== klayout $version headers in $target ($SECONDS s)"
