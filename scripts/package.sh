#!/bin/sh
# Builds the Debian package of the tool (both programs, zuvian-sim, desktop entry, man pages) from
# an optimized build in build/; the .deb lands in build/.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"${JOBS:-2}" --target zuvian-firmwareupdate zuvianctl zuvian-sim manpages
(cd build && cpack -G DEB)
ls build/*.deb
