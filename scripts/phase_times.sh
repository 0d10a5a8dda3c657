# Phase timing for the CI and test scripts (sourced, not run).
#   phase NAME COMMAND...   runs COMMAND and records how long it took
#   phase_report            prints every recorded phase with its time
# The records go to $ZIMO_PHASE_LOG (one "name seconds" line each), so a
# script that calls another shares one report.
# The script that made the log removes it (phase_report_once).
if [[ -z ${ZIMO_PHASE_LOG:-} ]]; then
  ZIMO_PHASE_LOG=$(mktemp -t zimo-phases.XXXXXX)
  ZIMO_PHASE_LOG_MINE=1
fi
export ZIMO_PHASE_LOG

phase() {
  local name=$1 start end rc=0
  shift
  start=$(date +%s)
  "$@" || rc=$?
  end=$(date +%s)
  echo "$name $((end - start))" >>"$ZIMO_PHASE_LOG"
  return $rc
}

phase_report() {
  echo "== phase times"
  awk '{ printf "  %-14s %5d s  (%dm%02ds)\n", $1, $2, $2 / 60, $2 % 60; total += $2 }
       END { printf "  %-14s %5d s  (%dm%02ds)\n", "total", total, total / 60, total % 60 }' \
    "$ZIMO_PHASE_LOG"
}

# The report at the end of the script that owns the log; then the log goes.
phase_report_once() {
  [[ -n ${ZIMO_PHASE_LOG_MINE:-} ]] || return 0
  phase_report
  rm -f "$ZIMO_PHASE_LOG"
}

# The slowest tests of the last ctest run in BUILD_DIR, from its log (the
# whole name, parameters included). The last stage reads all its input, so
# no stage of the pipe ends early under pipefail.
slowest_tests() {
  local log=$1/Testing/Temporary/LastTest.log count=${2:-15}
  [[ -f $log ]] || return 0
  echo "== the $count slowest tests"
  awk '/^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); name = $0 }
       /^Test time = / { printf "%9.2f s  %s\n", $4, name }' "$log" |
    sort -rn | awk -v n="$count" 'NR <= n'
}
