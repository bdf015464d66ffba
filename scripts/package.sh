#!/usr/bin/env bash
# Builds the Debian package ufd_<version>_amd64.deb in this folder from the Release build:
# ufd, ufdtool and ufd-sim in /usr/bin, the default template, a desktop entry and its icon, the
# library dependencies worked out from the binaries by dpkg-shlibdeps.
# Install it with: apt-get install ./ufd_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target ufd ufdtool ufd-sim report_template
rm -f build/ufd_*_amd64.deb
(cd build && cpack -G DEB)
deb=$(ls build/ufd_*_amd64.deb)
cp "$deb" .
echo "Built $(basename "$deb"):"
dpkg-deb --field "$(basename "$deb")" Package Version Depends
