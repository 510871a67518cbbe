#!/bin/bash
# Installs what the program needs, builds it and starts it. Run as root on Debian 12.
#
#   scripts/run.sh               starts a virtual robot ("robot" layout: a wheel base and an arm)
#                                on a veth pair and opens the program; pick "zuvian0" in the
#                                window. Closing the window stops the virtual robot and removes
#                                the pair.
#   scripts/run.sh --veth NAME   the same on a pair of another name (at most 10 characters), for
#                                a second virtual robot or when "zuvian0" is taken; the variable
#                                ZUVIAN_VETH=NAME does the same.
#   scripts/run.sh eth1          opens the program for the real robot cabled to eth1.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

veth=${ZUVIAN_VETH:-zuvian0}
robot=
case "${1:-}" in
  --veth)
    if [ $# -lt 2 ] || [ -z "$2" ]; then
      echo "usage: $0 [--veth NAME | INTERFACE]" >&2
      exit 2
    fi
    veth=$2
    ;;
  -*)
    echo "usage: $0 [--veth NAME | INTERFACE]" >&2
    exit 2
    ;;
  ?*)
    robot=$1
    ;;
esac

"$top/scripts/install-deps.sh"

build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZUVIAN_TESTS=OFF
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"

program="$build/zuvian-firmwareupdate"
if [ -n "$robot" ]; then
  if ! ip link show "$robot" >/dev/null 2>&1; then
    echo "There is no network interface \"$robot\" on this machine." >&2
    exit 1
  fi
  echo "Choose \"$robot\" as network interface in the window."
  exec "$program"
fi

# The virtual robot's output goes to the terminal and to a log, in which its start is confirmed
# (or its reason for not starting found).
log=$(mktemp)
# Its controllers start on an older firmware, so that an update shows in "Check Version".
"$build/zuvian-sim" --veth "$veth" --layout robot --firmware-version 1.40 > >(tee "$log") 2>&1 &
sim=$!
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -f "$log"
}
trap stop_sim EXIT INT TERM

# zuvian-sim prints "Ctrl-C ends it." once it serves the pair. Whether an interface of that name is
# up says nothing: it may be another program's pair, and this virtual robot may have given up.
started=
for _ in $(seq 1 100); do
  if grep -q 'Ctrl-C ends it' "$log"; then
    started=yes
    break
  fi
  if ! kill -0 "$sim" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
if [ -z "$started" ]; then
  # Its own reason is on the terminal already (through tee, which may still be writing it).
  sleep 0.2
  echo "The virtual robot could not be started on \"$veth\" (see above)." >&2
  if ip link show "$veth" >/dev/null 2>&1; then
    echo "An interface \"$veth\" exists already (another virtual robot, or another program's)." \
      "Choose another name: $0 --veth NAME, or ZUVIAN_VETH=NAME $0." >&2
  fi
  exit 1
fi

# The window lists running interfaces that have an address.
for _ in $(seq 1 50); do
  ip link show "$veth" 2>/dev/null | grep -q 'LOWER_UP' && break
  sleep 0.1
done
if ! ip -o addr show dev "$veth" | grep -q inet; then
  ip addr add 169.254.148.1/32 dev "$veth" 2>/dev/null || true
fi

echo "Virtual robot running behind \"$veth\"; choose it as network interface in the window."
"$program"
