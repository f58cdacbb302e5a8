#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing (as root, without recommended
# packages); does nothing, and needs no network, when all are there.
#
#   bash scripts/apt-install.sh PACKAGE...
set -euo pipefail
missing=()
for package in "$@"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && exit 0
echo "== apt-get install ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
