#!/bin/bash
# Installs what the program needs, builds it and starts it. Run as root on Debian 12.
#
#   scripts/run.sh            starts a virtual robot ("robot" layout: a wheel base and an arm) on a
#                             veth pair and opens the program; pick "zuvian0" in the window.
#                             Closing the window stops the virtual robot and removes the pair.
#   scripts/run.sh eth1       opens the program for the real robot cabled to eth1.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"

build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZUVIAN_TESTS=OFF
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"

program="$build/zuvian-firmwareupdate"
if [ $# -ge 1 ]; then
  if ! ip link show "$1" >/dev/null 2>&1; then
    echo "There is no network interface \"$1\" on this machine." >&2
    exit 1
  fi
  echo "Choose \"$1\" as network interface in the window."
  exec "$program"
fi

veth=zuvian0
# Its controllers start on an older firmware, so that an update shows in "Check Version".
"$build/zuvian-sim" --veth "$veth" --layout robot --firmware-version 1.40 &
sim=$!
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
}
trap stop_sim EXIT INT TERM

# The window lists running interfaces that have an address; wait for the pair to come up.
for _ in $(seq 1 50); do
  ip link show "$veth" 2>/dev/null | grep -q 'LOWER_UP' && break
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "The virtual robot could not be started." >&2
    exit 1
  fi
  sleep 0.1
done
if ! ip -o addr show dev "$veth" | grep -q inet; then
  ip addr add 169.254.148.1/32 dev "$veth" 2>/dev/null || true
fi

echo "Virtual robot running behind \"$veth\"; choose it as network interface in the window."
"$program"
