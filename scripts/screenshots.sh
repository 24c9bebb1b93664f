#!/usr/bin/env bash
# The user guide's pictures, taken from the real program under Xvfb while it
# is connected to rqsim: the main window and every dialog, opened through the
# menu with the keyboard, and the tools, "Průběh hodnot" with a ramp, moving
# digital inputs and a few failed readings.
#
#   scripts/screenshots.sh BIN_DIR OUT_DIR
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
out=$(mkdir -p "${2:-docs/img}" && cd "${2:-docs/img}" && pwd)
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT

Xvfb :139 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:139 XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb
sleep 1
"$bin/rqsim" --udp 0 --module 1:3510:1.08 --temp 23.4 >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.05; done
udp=$(sed -n 's/^udp \([0-9]*\)$/\1/p' "$work/sim.log")
mkdir "$work/app" && cp "$bin/W_RQ3510" "$bin"/lib*.so "$work/app/"
printf '[P\xf8ipojen\xed]\r\nRozhran\xed=RQ-4638\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-4638]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=200\r\n' \
  "$udp" >"$work/app/W_rq3510.ini"
# Czech regional settings for the program, as a technician has them (decimal comma).
(cd "$work/app" && LC_NUMERIC=cs_CZ.UTF-8 exec ./W_RQ3510) >/dev/null 2>&1 &
pids+=($!)
main=$(timeout 20 xdotool search --sync --name ' RQ-3510,3520,3530' | head -1)
sleep 1 # let it finish starting before keys arrive

shot() { # caption file [wait]
  local id="" pattern
  # Window names may reach X in another encoding than ours: match the
  # caption's plain letters and let anything stand for the Czech ones.
  pattern=$(printf '%s' "$1" | LC_ALL=C sed 's/[\x80-\xff]\{1,\}/.*/g')
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "^$pattern\$" 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "no window '$1'"; return 1; }
  sleep "${3:-0.5}"
  import -window "$id" "$out/$2.png"
  echo "$out/$2.png"
}
open_item() { # menu key, number of Down presses
  xdotool windowfocus --sync "$main"
  sleep 0.2
  xdotool key "$1"
  for _ in $(seq "$2"); do xdotool key Down; done
  xdotool key Return
}
close_dialog() { xdotool key Escape; sleep 0.4; }

xdotool windowfocus --sync "$main"; sleep 0.2
xdotool key alt+p
sleep 0.5
xdotool key Tab Tab Tab Tab Tab Tab space
shot 'Připojení modulu' pripojeni 1
close_dialog
import -window "$main" "$out/main.png"

open_item alt+n 0; shot 'Nastavení komunikační adresy a rychlosti' nastavadr; close_dialog
open_item alt+n 1; shot 'Nastavení analogových vstupů RQ-3510' nastavain3510; close_dialog
open_item alt+n 2; shot 'Nastavení analogových vstupů RQ-3520' nastavain3520; close_dialog
open_item alt+n 3; shot 'Nastavení analogových vstupů RQ-3530' nastavain3530; close_dialog
open_item alt+n 4; shot ' Nastavení interního teploměru' nastavit; close_dialog
open_item alt+n 5; shot 'Nastavení digitálních vstupů/výstupů' nastavdio; close_dialog
open_item alt+n 6; shot 'Kalibrace analogových vstupů' kalibraceain 1.2; close_dialog
open_item alt+n 7; shot 'Kalibrace interního teploměru' kalibraceit; close_dialog
open_item alt+n 8; shot ' Konfigurační EEPROM' konfigeeprom; close_dialog
open_item alt+o 0; shot 'Okamžité hodnoty analogových vstupů' okamain 1.5; close_dialog
open_item alt+o 1; shot 'Okamžité hodnoty digitálních vstupů' okamdin 1; close_dialog
open_item alt+o 2; shot 'Zápis na digitální výstupy' okamdout; close_dialog
open_item alt+o 3; shot 'Status registr' statreg 1.2; close_dialog

# The tools. Values over time first, while connected: a ramp, a slower wave,
# three digital inputs that change, three dropped replies (a shaded
# stretch), and the pointer over the chart (the cursor box).
control=$(sed -n 's/^control \([0-9]*\)$/\1/p' "$work/sim.log")
sim() { # one command on rqsim's control channel
  exec 3<>"/dev/tcp/127.0.0.1/$control"
  printf '%s\n' "$*" >&3
  read -r -t 5 _ <&3 || true
  exec 3<&-
}
sim ramp 1 0 0 1.5 20 V
sim ramp 1 1 -1 1 45 V
sim din 1 00000005
open_item alt+s 3
sleep 6
sim din 1 00000006
sleep 4
sim fault cmd=0 sub=3 drop count=3
sleep 4
sim din 1 00000106
sleep 6
trend=$(xdotool search --onlyvisible --name '^Pr.*hodnot$' | head -1)
xdotool mousemove --window "$trend" 520 160
shot 'Průběh hodnot' prubeh 1
# Small: the side panel folds away and the chart shows its legend instead.
timeout 5 xdotool windowsize --sync "$trend" 640 420 || true
xdotool mousemove --window "$trend" 330 140
shot 'Průběh hodnot' prubeh-maly 1; close_dialog
open_item alt+s 1; shot 'Diagnostika spojení' diagnostika 1
xdotool key ctrl+Tab
# With another dialog open the check waits, and says why beside its button.
diag=$(xdotool search --onlyvisible --name '^Diagnostika spojen.*$' | head -1)
open_item alt+o 3
stat=$(timeout 10 xdotool search --sync --onlyvisible --name '^Status registr$' | head -1)
xdotool windowmove "$stat" 1270 790
shot 'Diagnostika spojení' diagnostika2 0.5
xdotool windowfocus --sync "$stat"; close_dialog
xdotool windowfocus --sync "$diag"; close_dialog
open_item alt+s 2; shot 'Porovnání konfigurace' porovnani; close_dialog
open_item alt+s 0; shot 'Hledání modulů' hledani; close_dialog
xdotool windowfocus --sync "$main"; xdotool key alt+k
