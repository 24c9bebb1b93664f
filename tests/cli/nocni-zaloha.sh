#!/bin/bash
# Nightly backup of the modules 1-32 into a dated folder, then what changed
# since yesterday's backup. For cron: exits nonzero on the first failure.
set -euo pipefail
ZALOHY=${ZALOHY:-/var/backups/rq}
DNES=${DNES:-$(date +%F)}
VCERA=${VCERA:-$(date -d yesterday +%F)}
SPOJENI=${SPOJENI:-}   # empty: the adapter of W_rq3510.ini

rqtool $SPOJENI --retries 3 --quiet --address 1-32 backup "$ZALOHY/$DNES"
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
