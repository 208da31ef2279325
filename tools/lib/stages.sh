# shellcheck shell=bash
# Sourced by tools/run-tests and tools/build-windows: times their stages and prints, when the
# outermost of them ends (passed or not), how long each took and what the Windows stages tested.
#
#   stage_begin LABEL ... stage_end      times the commands between them
#   stage_note TEXT                      a line for the end of the summary
#
# A script started by another writes into the same file (DORVIK_STAGE_TIMES), so the summary covers
# both. A stage still open when the script exits is recorded as failed.

if [[ -z ${DORVIK_STAGE_TIMES:-} ]]; then
    DORVIK_STAGE_TIMES=$(mktemp)
    export DORVIK_STAGE_TIMES
    stages_own_summary=1
else
    stages_own_summary=0
fi
stages_started=$SECONDS
stage_label=
stage_started=0

stage_begin() {
    stage_label=$1
    stage_started=$SECONDS
}

stage_end() {
    printf 'time\t%s\t%s\n' $((SECONDS - stage_started)) "$stage_label" >>"$DORVIK_STAGE_TIMES"
    stage_label=
}

stage_note() {
    printf 'note\t%s\n' "$1" >>"$DORVIK_STAGE_TIMES"
}

stages_duration() {
    printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

# For the script's EXIT trap.
stages_finish() {
    if [[ -n $stage_label ]]; then
        printf 'time\t%s\t%s (failed)\n' $((SECONDS - stage_started)) "$stage_label" >>"$DORVIK_STAGE_TIMES"
        stage_label=
    fi
    ((stages_own_summary)) || return 0
    local kind seconds label
    echo "Time per stage:" >&2
    while IFS=$'\t' read -r kind seconds label; do
        [[ $kind == time ]] && printf '  %9s  %s\n' "$(stages_duration "$seconds")" "$label" >&2
    done <"$DORVIK_STAGE_TIMES"
    printf '  %9s  in all\n' "$(stages_duration $((SECONDS - stages_started)))" >&2
    while IFS=$'\t' read -r kind label; do
        [[ $kind == note ]] && echo "$label" >&2
    done <"$DORVIK_STAGE_TIMES"
    rm -f "$DORVIK_STAGE_TIMES"
}
