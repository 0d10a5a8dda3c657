#!/usr/bin/env bash
# Build and run the main job against the simulated card: a simulated card on
# a pseudo-terminal, registered as device 0 on a serial port, and a client
# program that talks to it through libcorvan32.so (which starts ZimoServer,
# opens the port, identifies the card and exchanges the command lines).
#
# All state goes into ZIMO_HOME: a temporary one, removed at the end, unless
# ZIMO_HOME is set. ZIMO_PRESET chooses the build (default: "default").
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${ZIMO_PRESET:-default}
com_port=1
lines=(VERSION TYPE DATE CPU I10 P1=5 P1)

cmake --preset "$preset" >/dev/null
# Every program and library (not the tests), so that build/<preset>/bin holds
# what docs/configuration.md uses.
cmake --build --preset "$preset" -j "$(nproc)" --target zimo-cardsim zimoserver zimo-term \
  zimo-drvhost zimo-plcc zimo-jux zimo-ctlhost corvan32 vmemgr jux170 qeldll32 vocto voctoks
bin="$(pwd)/build/$preset/bin"

temporary_home=""
if [[ -z "${ZIMO_HOME:-}" ]]; then
  temporary_home=$(mktemp -d "${TMPDIR:-/tmp}/zimo-demo-XXXXXX")
  export ZIMO_HOME="$temporary_home"
fi
echo "ZIMO_HOME=$ZIMO_HOME"

card_pid=""
card_out="$ZIMO_HOME/zimo-cardsim.out"

cleanup() {
  if [[ -n "$card_pid" ]] && kill -0 "$card_pid" 2>/dev/null; then
    kill -TERM "$card_pid" 2>/dev/null || true
    wait "$card_pid" 2>/dev/null || true
  fi
  # ZimoServer ends by itself a few seconds after its last client; its home
  # must stay until then.
  for _ in $(seq 1 100); do
    [[ -e "$ZIMO_HOME/run/ZimoServer.sock" ]] || break
    sleep 0.2
  done
  if [[ -n "$temporary_home" ]]; then
    rm -rf "$temporary_home"
  fi
}
trap cleanup EXIT

# ZimoServer's classes, so that the library can start it.
"$bin/zimoserver" -RegServer

# The card: its pseudo-terminal is registered as COM<n> in ZIMO_HOME.
"$bin/zimo-cardsim" --model older --pty --com "$com_port" --no-stdin >"$card_out" 2>&1 &
card_pid=$!
for _ in $(seq 1 100); do
  grep -qx ready "$card_out" 2>/dev/null && break
  if ! kill -0 "$card_pid" 2>/dev/null; then
    echo "zimo-cardsim ended early:" >&2
    cat "$card_out" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -qx ready "$card_out"; then
  echo "zimo-cardsim did not get ready" >&2
  exit 1
fi
echo "Simulated card on $(sed -n 's/^pty //p' "$card_out") as COM$com_port"

# Device 0 is registered as that serial card, opened, identified and asked.
"$bin/zimo-term" --device 0 --serial "$com_port" "${lines[@]}"
