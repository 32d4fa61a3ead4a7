# Sourced by the comparison scripts: their rounds of alternating runs and the heading of their report.
#
#   alternate_rounds ROUNDS SIDE_A SIDE_B KIND...   calls `measure KIND SIDE` for every kind and both sides,
#                                                   SIDE_A first in odd rounds, SIDE_B first in even ones
#   alternate_rounds ROUNDS "SIDE..." KIND...       the same for any number of sides (one word, the sides
#                                                   separated by spaces): in their order in odd rounds,
#                                                   in the reverse order in even ones
#   report_heading ROUNDS                           the first line of the report: date, machine, cores, the
#                                                   load average before and after the rounds
#   $MEDIAN_AWK                                     awk functions for the report, over the results read as
#                                                   v[KIND, SIDE, i] with n[KIND, SIDE] of them:
#                                                   median(KIND, SIDE), which also sets low (the minimum)
alternate_rounds() {
  local rounds=$1 sides reversed="" r kind side order
  if [[ $2 == *" "* ]]; then
    sides=$2
    shift 2
  else
    sides="$2 $3"
    shift 3
  fi
  for side in $sides; do reversed="$side $reversed"; done
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  for ((r = 1; r <= rounds; ++r)); do
    if ((r % 2)); then order=$sides; else order=$reversed; fi
    for kind in "$@"; do
      for side in $order; do measure "$kind" "$side"; done
    done
    echo "   round $r of $rounds done (load $(cut -d' ' -f1 /proc/loadavg))"
  done
  load_after=$(cut -d' ' -f1-3 /proc/loadavg)
}

report_heading() {
  printf '== %s on %s (%s cores); load average %s at the start, %s at the end; %d rounds\n' \
    "$(date -u +%Y-%m-%d)" "$(uname -m)" "$(nproc)" "$load_before" "$load_after" "$1"
}

MEDIAN_AWK='
  function median(kind, side,    i, j, t, m, a) {
    m = n[kind, side]
    for (i = 1; i <= m; ++i) a[i] = v[kind, side, i]
    for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    low = a[1]
    return (m % 2) ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
  }'
