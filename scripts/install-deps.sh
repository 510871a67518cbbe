#!/bin/sh
# Installs the Debian packages the build needs; "test" adds what the test suite needs, "fuzz" the
# compiler and runtime of the fuzz targets (scripts/fuzz.sh). Both may be given.
# Run as root on Debian 12.
set -eu

packages="build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev"
packages="$packages iproute2 libcap2-bin"
# zuvianctl: arguments, JSON, pcap captures
packages="$packages libcli11-dev nlohmann-json3-dev libpcap-dev"
# the Debian package: man pages from --help, cpack's DEB generator
packages="$packages help2man dpkg-dev fakeroot file"
for extra in "$@"; do
  case "$extra" in
    test) packages="$packages googletest libgtest-dev libfaketime lintian graphviz" ;;
    fuzz) packages="$packages clang-14 libclang-rt-14-dev" ;;
    *) echo "unknown package set: $extra" >&2; exit 2 ;;
  esac
done

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  # shellcheck disable=SC2086
  apt-get install -y --no-install-recommends $missing
fi
