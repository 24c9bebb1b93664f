#!/bin/bash
# Nightly backup of the modules 1-32 into a dated folder, then what changed
# since yesterday's backup. For cron: exits nonzero on the first failure;
# addresses where no module answers (a sparse bus, exit code 6) are none.
set -euo pipefail
ZALOHY=${ZALOHY:-/var/backups/rq}
DNES=${DNES:-$(date +%F)}
VCERA=${VCERA:-$(date -d yesterday +%F)}
SPOJENI=${SPOJENI:-}   # empty: the adapter of W_rq3510.ini

kod=0
rqtool $SPOJENI --retries 3 --quiet --address 1-32 backup "$ZALOHY/$DNES" || kod=$?
[ "$kod" -eq 0 ] || [ "$kod" -eq 6 ] || exit "$kod"
for soubor in "$ZALOHY/$DNES"/*.kee; do
    modul=$(basename "$soubor" | cut -d_ -f1-2)   # RQ-3510_a7
    vcera=$(ls "$ZALOHY/$VCERA/${modul}"_*.kee 2>/dev/null | head -n 1 || true)
    if [ -z "$vcera" ]; then
        echo "$modul: včera nezálohován"
        continue
    fi
    # diff: 0 the same, 1 changed; anything else ends the script.
    rqtool diff "$vcera" "$soubor" | sed "s/^/$modul: /" || [ "${PIPESTATUS[0]}" -eq 1 ]
done
