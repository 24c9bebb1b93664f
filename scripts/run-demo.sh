#!/usr/bin/env bash
# Starts the module simulator on a free UDP port of this machine, writes a
# settings file beside the program that points the LAN converter at it, and
# opens the program. The simulator stops when the program closes.
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Xvfb on :77 (look at it with a VNC or screenshot tool)."
  Xvfb :77 -screen 0 1280x800x24 >/dev/null 2>&1 &
  export DISPLAY=:77 QT_QPA_PLATFORM=xcb
  sleep 1
fi

if [ -x "$bin/rqsim" ]; then
  log=$(mktemp)
  "$bin/rqsim" --udp 0 >"$log" 2>&1 &
  sim=$!
  trap 'kill $sim 2>/dev/null || true; rm -f "$log"' EXIT
  port="" control=""
  for _ in $(seq 50); do
    port=$(sed -n 's/^udp \([0-9]*\)$/\1/p' "$log" | head -1)
    control=$(sed -n 's/^control \([0-9]*\)$/\1/p' "$log" | head -1)
    [ -n "$port" ] && [ -n "$control" ] && break
    sleep 0.1
  done
  [ -n "$port" ] && [ -n "$control" ] || { echo "rqsim did not start:"; cat "$log"; exit 1; }
  echo "rqsim listens on 127.0.0.1 UDP port $port; its control channel is TCP port $control."
  # bash alone reaches the control channel: no netcat needed.
  echo "Control it from another terminal (type commands such as help, Ctrl-C ends):"
  echo "  bash -c 'exec 3<>/dev/tcp/127.0.0.1/$control; cat <&3 & cat >&3'"
  # The settings file is Windows-1250 text with CRLF line ends.
  printf '[P\xf8ipojen\xed]\r\nRozhran\xed=RQ-4638\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-4638]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=200\r\n' \
    "$port" >"$bin/W_rq3510.ini"
  echo "Choose Připojení, then Inicializace připojení."
  # The gateway on the same bus: the module as a Modbus TCP device.
  if [ -x "$bin/rqgw" ]; then
    gwlog=$(mktemp)
    "$bin/rqgw" --adapter lan --ip 127.0.0.1 --udp-port "$port" --udp-timeout 200 --address 1 --baud 9600 \
      --modbus 127.0.0.1:0 >"$gwlog" 2>&1 &
    gw=$!
    trap 'kill $sim $gw 2>/dev/null || true; rm -f "$log" "$gwlog"' EXIT
    mport=""
    for _ in $(seq 50); do
      mport=$(sed -n 's/^modbus \([0-9]*\)$/\1/p' "$gwlog" | head -1)
      [ -n "$mport" ] && break
      sleep 0.1
    done
    if [ -n "$mport" ]; then
      echo "rqgw serves the module as Modbus TCP unit 1 on 127.0.0.1 port $mport; read its analog inputs with:"
      echo "  mbpoll -m tcp -p $mport -a 1 -0 -r 0 -c 12 -t 3:float -B -1 127.0.0.1"
    else
      echo "rqgw did not start:"; cat "$gwlog"
    fi
  fi
fi
"$bin/W_RQ3510"
