#!/usr/bin/env bash
# End to end through the real window: starts the real W_RQ3510 under Xvfb
# beside rqsim, drives it with X keyboard events as a person would (menu
# access keys, Tab, typing, Enter, Space) and checks the outcome outside the
# program: the simulator's memory, the backup file, the settings file.
#
#   realwindow.sh BIN_DIR OUT_DIR
#
# Exit 77 (skipped) with a message when no X server can be started here.
set -uo pipefail
bin=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)

need() { command -v "$1" >/dev/null 2>&1; }
if ! need Xvfb || ! need xdotool || ! need import; then
  if [ "$(id -u)" -eq 0 ] && need apt-get; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth xdotool imagemagick >/dev/null 2>&1
  fi
fi
if ! need Xvfb || ! need xdotool || ! need import; then
  echo "SKIP: Xvfb, xdotool and ImageMagick's import are needed (apt-get install xvfb xdotool imagemagick)"
  exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; import -window root "$out/failure.png" 2>/dev/null; exit 1; }

# A display of our own.
display=""
for n in $(seq 140 180); do
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1 && { display=":$n"; break; }
    sleep 0.1
  done
  [ -n "$display" ] && break
done
[ -n "$display" ] || { echo "SKIP: no X server could be started"; exit 77; }
export DISPLAY=$display
export QT_QPA_PLATFORM=xcb # the test runner's offscreen platform would show no window
export XDG_RUNTIME_DIR=$work/run && mkdir -m 700 "$XDG_RUNTIME_DIR"

# The simulator.
"$bin/rqsim" --udp 0 --module 1:3510:1.08 >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.05; done
udp=$(sed -n 's/^udp \([0-9]*\)$/\1/p' "$work/sim.log")
ctl=$(sed -n 's/^control \([0-9]*\)$/\1/p' "$work/sim.log")
[ -n "$udp" ] && [ -n "$ctl" ] || fail "rqsim did not start: $(cat "$work/sim.log")"
sim() { # one control command, one reply line
  exec 3<>"/dev/tcp/127.0.0.1/$ctl" || return 1
  printf '%s\n' "$1" >&3
  local line
  IFS= read -r -t 5 line <&3
  exec 3>&-
  printf '%s\n' "${line%$'\r'}"
}

# The program in a folder of its own, with a settings file (Windows-1250,
# CRLF) whose LAN converter points at the simulator.
app=$work/app
mkdir "$app"
cp "$bin/W_RQ3510" "$bin"/lib*.so "$app/"
printf '[P\xf8ipojen\xed]\r\nRozhran\xed=RQ-4638\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-4638]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=200\r\n' \
  "$udp" >"$app/W_rq3510.ini"
(cd "$app" && exec ./W_RQ3510) >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
main=$(timeout 20 xdotool search --sync --name ' RQ-3510,3520,3530' | head -1)
[ -n "$main" ] || fail "the main window did not appear"

focus_main() { xdotool windowfocus --sync "$main"; sleep 0.2; }
wait_window() { # caption -> window id
  local id="" pattern
  # Window names may reach X in another encoding than ours: match the
  # caption's plain letters and let anything stand for the Czech ones.
  pattern=$(printf '%s' "$1" | LC_ALL=C sed 's/[\x80-\xff]\{1,\}/.*/g')
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "^$pattern\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { xdotool windowfocus --sync "$id"; sleep 0.3; echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
until_true() { # seconds, command...
  local t=$1; shift
  for _ in $(seq $((t * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

# 1. Connect over the LAN converter: Připojení, Tab to "Inicializace připojení", Space.
focus_main
xdotool key alt+p
dlg=$(wait_window 'Připojení modulu') || fail "the connection dialog did not open"
xdotool key Tab Tab Tab Tab Tab Tab space
connected() { [ "$(sim counters | sed -n 's/.*requests=\([0-9]*\).*/\1/p')" -ge 3 ]; }
until_true 5 connected || fail "no identification reached the simulator"
sleep 0.5
import -window "$dlg" "$out/connection.png"
xdotool key Escape
sleep 0.5
import -window "$main" "$out/main-window.png"

# 2. Set the range of AIN0 of the RQ-3510 to the first item and write it.
[ "$(sim 'mem 1 0 0')" = "OK 6" ] || fail "unexpected range byte before the test"
focus_main
xdotool key alt+n Down Return
dlg=$(wait_window 'Nastavení analogových vstupů RQ-3510') || fail "the RQ-3510 dialog did not open"
xdotool key Home
for _ in $(seq 12); do xdotool key Tab; done
xdotool key space
written() { [ "$(sim 'mem 1 0 0')" = "OK 0" ]; }
until_true 10 written || fail "the range byte in the simulator did not change"
sleep 0.5
import -window "$dlg" "$out/ranges-3510.png"
xdotool key Escape
sleep 0.3

# 3. Back up the configuration memory into Rq3510.kee in the program's folder.
sim 'mem 1 1 7 165' >/dev/null   # a byte in page 1 too
focus_main
xdotool key alt+n Up Return      # the last item: "Konfigurační EEPROM"
dlg=$(wait_window ' Konfigurační EEPROM') || fail "the EEPROM dialog did not open"
# Focus starts in the file name; Tab to "Načíst z EEPROM".
xdotool key Tab Tab space
kee=$app/Rq3510.kee
saved() { [ -f "$kee" ] && [ "$(stat -c %s "$kee")" -eq 512 ]; }
until_true 30 saved || fail "no 512-byte backup file appeared"
dump=$(sim 'dump 1' | sed 's/^OK //')
file=$(od -An -v -tx1 "$kee" | tr -d ' \n')
[ "${dump,,}" = "${file,,}" ] || fail "the backup file differs from the simulator's memory"
xdotool key Escape
sleep 0.3

# 4. Close the program with Konec; the settings file keeps the connection.
focus_main
xdotool key alt+k
until_true 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not close"
ini=$(iconv -f cp1250 -t utf-8 "$app/W_rq3510.ini")
grep -q '^Rozhraní=RQ-4638' <<<"${ini//$'\r'/}" || fail "settings file lost the interface: $ini"
grep -q "^UDP port=$udp" <<<"${ini//$'\r'/}" || fail "settings file lost the UDP port: $ini"
echo "screenshots in $out"
echo "PASS: connect, write a range, back up the EEPROM, close and keep the settings"
