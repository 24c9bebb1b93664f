#!/bin/bash
# Completion of rqtool as bash offers it: complete -p names the function,
# and each row gives the words typed (the last one being completed) and a
# word the answer must hold ("-" for an empty answer).
set -u
source "$1"
complete -p rqtool | grep -q -- '-F _rqtool' || { echo "complete -p: no _rqtool"; exit 1; }
failed=0
check()
{
    local expect=$1; shift
    COMP_WORDS=(rqtool "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _rqtool rqtool "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    local got=" ${COMPREPLY[*]-} "
    if [[ $expect == - ]]; then
        [[ -z ${COMPREPLY[*]-} ]] && return
    elif [[ $got == *" $expect "* ]]; then
        return
    fi
    echo "rqtool $*<TAB>: expected '$expect', got '${got}'"
    failed=1
}
check info --adapter lan ""
check values --address 1 ""
check backup -a 1 ""
check info --udp-timeout=300 ""
check din0.negation --adapter lan get din0
check dout9.initial= set dout9.i
check lan --adapter l
check --keep-address --adapter lan restore --k
check rfc4180 values --csv-format r
check --timeout --ti
check - --address ""
check info -ja 1 ""
check - -ja ""
check info -qa5 ""
check values -jo x.csv ""
check --dry-run apply --config x.ini --d
check apply a
exit $failed
