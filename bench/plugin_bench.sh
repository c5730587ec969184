#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs bench/plugin_bench (the plug-in's cost per record, its growth with
# the number of records and the commands it sends) and writes its results
# where docs/benchmarks.md shows them:
#
#   docs/benchmarks/plugin_bench.json   Google Benchmark's JSON output
#   docs/benchmarks/plugin_bench.svg    time per record against N (gnuplot)
#   docs/benchmarks.md                  the tables between the
#                                       "results" markers, rewritten
#
#   bench/plugin_bench.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build in the repository (configured RelWithDebInfo
# when new). ZK_BENCH_REPETITIONS (default 5) repetitions of every case, at
# the default log threshold and at the most verbose, every N
# (ZK_BENCH_FILTER, a Google Benchmark filter, selects fewer). The
# repetitions of all cases run in a random interleaved order, so that a
# burst of load from other work on the machine spoils one repetition of
# several cases rather than every repetition of one. Installs gnuplot-nox
# and jq with apt-get when they are missing. Bounded: about 16 minutes on
# two shared cores. ZK_BENCH_REDRAW=1 runs nothing: it draws the plot and
# rewrites the tables from the JSON already in docs/benchmarks.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
reps=${ZK_BENCH_REPETITIONS:-5}
filter=${ZK_BENCH_FILTER:-'.'}
jobs=${ZK_JOBS:-2}
out=$root/docs/benchmarks
doc=$root/docs/benchmarks.md

if [[ ! $reps =~ ^[1-9][0-9]*$ ]]; then
  echo "plugin_bench.sh: ZK_BENCH_REPETITIONS must be a positive number, got '$reps'" >&2
  exit 2
fi

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}
missing=()
command -v gnuplot >/dev/null 2>&1 || missing+=(gnuplot-nox)
command -v jq >/dev/null 2>&1 || missing+=(jq)
if ((${#missing[@]} > 0)); then
  echo "plugin_bench.sh: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
mkdir -p "$out"
json=$out/plugin_bench.json
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ${ZK_BENCH_REDRAW:-} == 1 ]]; then
  if ! jq -e '.benchmarks | length > 0' "$json" >/dev/null 2>&1; then
    echo "plugin_bench.sh: $json holds no benchmark results to draw" >&2
    exit 1
  fi
  reps=$(jq -r '[.benchmarks[].repetitions] | max' "$json")
else
"$root/scripts/install-deps.sh"

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
case $build_type in
  Release | RelWithDebInfo) ;;
  *) echo "plugin_bench.sh: $build is a $build_type build; use an optimised one" >&2
     exit 2 ;;
esac
ninja -C "$build" -j "$jobs" plugin_bench

"$build/bench/plugin_bench" \
  --benchmark_filter="$filter" \
  --benchmark_repetitions="$reps" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/run.json" --benchmark_out_format=json
# A case that stopped with an error has no figures: fail rather than draw.
if jq -e '[.benchmarks[] | select(.error_occurred == true)] | length > 0' \
    "$work/run.json" >/dev/null; then
  jq -r '.benchmarks[] | select(.error_occurred == true) |
         "plugin_bench.sh: \(.name): \(.error_message)"' "$work/run.json" >&2
  exit 1
fi
mv "$work/run.json" "$json"
fi

# One row per operation and case, medians over the repetitions (one
# repetition has no aggregates: its own figures), in the
# order of the lifecycle:
# op layout n level cpu own client wall peak kept cmds min excess lines
# faults kinds (NAME:sent:minimum for each kind of command, ";" between)
jq -r --arg reps "$reps" '{"prepare": 1, "prepare_nas": 2, "snap": 3, "map": 4, "unmap": 5,
        "revert": 6, "delete": 7, "reconcile": 8} as $order |
  .benchmarks[] |
  select(.aggregate_name == "median" or ($reps == "1" and .run_type == "iteration")) |
  . as $b |
  (.run_name | split("/")) as $p |
  (keys[] | select(endswith(".cpu_us")) | rtrimstr(".cpu_us")) as $op |
  [$order[$op], $op, $p[1], ($p[2] | tonumber),
   ($p[3] | ltrimstr("log") | tonumber)] +
  ([".cpu_us", ".own_us", ".client_us", ".wall_us", ".peak_B", ".kept_B",
    ".cmds", ".min_cmds", ".excess_cmds", ".log_lines", ".faults"] |
   map($b[$op + .])) +
  ([$b | keys[] | select(startswith($op + ".cmd.")) | ltrimstr($op + ".cmd.") |
    "\(.):\($b[$op + ".cmd." + .]):\($b[$op + ".min." + .])"] | join(";")
   | [.]) |
  @tsv' "$json" |
  sort -t $'\t' -k1,1n -k3,3r -k5,5n -k4,4n | cut -f 2- >"$work/rows.tsv"

ops="prepare prepare_nas snap map unmap delete revert reconcile"
for op in $ops; do
  for layout in one_fs fs_per_record; do
    awk -F'\t' -v op="$op" -v layout="$layout" \
      '$1 == op && $2 == layout && $4 == 0 { print $3, $5, $6 }' \
      "$work/rows.tsv" >"$work/${op}_${layout}.dat"
  done
done

# A selection (ZK_BENCH_FILTER) without a layout at threshold 0 leaves a
# panel of the plot empty, which gnuplot refuses: keep the plot as it was.
plot=yes
for layout in one_fs fs_per_record; do
  if [[ -z $(cat "$work"/*_"$layout".dat) ]]; then
    echo "plugin_bench.sh: no case of layout $layout at log threshold 0 was run; the plot is left as it was" >&2
    plot=no
  fi
done
[[ $plot == yes ]] && gnuplot <<GNUPLOT
set terminal svg size 1200,900 dynamic noenhanced font "sans,11" background "white"
set output "$out/plugin_bench.svg"
set datafile separator " "
set logscale xy
set xrange [0.7:50000]
set xtics ("1" 1, "64" 64, "1024" 1024, "8192" 8192, "32767" 32767)
set grid
set key outside right top vertical
set xlabel "records per call (N)"
set ylabel "µs per record (thread CPU, median of $reps)"
ops = "$ops"
set multiplot layout 2,2 title "plugin_bench: time per record against N (log threshold 0, in-memory file server, no latency)"
set title "whole call, all records on one file system"
plot for [op in ops] "$work/".op."_one_fs.dat" using 1:2 with linespoints pointtype 7 pointsize 0.6 title op
set title "whole call, every record on its own file system"
plot for [op in ops] "$work/".op."_fs_per_record.dat" using 1:2 with linespoints pointtype 7 pointsize 0.6 title op
set title "plug-in's own share, one file system"
plot for [op in ops] "$work/".op."_one_fs.dat" using 1:3 with linespoints pointtype 7 pointsize 0.6 title op
set title "plug-in's own share, a file system per record"
plot for [op in ops] "$work/".op."_fs_per_record.dat" using 1:3 with linespoints pointtype 7 pointsize 0.6 title op
unset multiplot
GNUPLOT

# The tables of docs/benchmarks.md.
{
  echo "Context: $(jq -r '.context | "\(.host_name), \(.num_cpus) CPUs, load average \(.load_avg | map(. * 100 | round / 100) | join(" ")), \(.date)"' "$json"); $( ((reps == 1)) && echo "1 repetition" || echo "$reps repetitions, medians")."
  echo
  echo "| operation | layout | N | whole µs/rec | own µs/rec | client µs/rec | wall µs/rec | peak B/rec | commands/rec (minimum) | of each kind (minimum) |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|---|---|"
  awk -F'\t' '$4 == 0 {
      nk = split($16, kinds, ";"); detail = ""
      for (i = 1; i <= nk; i++) {
        split(kinds[i], f, ":")
        detail = detail (i > 1 ? ", " : "") sprintf("%s %.4g (%.4g)", f[1], f[2], f[3])
      }
      printf "| %s | %s | %d | %.1f | %.1f | %.1f | %.1f | %.0f | %.4g (%.4g)%s | %s |\n",
        $1, $2, $3, $5, $6, $7, $8, $9, $11, $12, ($13 > 0 ? " above" : ""), detail
    }' "$work/rows.tsv"
  echo
  echo "Growth of the time per record from N = 1024 to N = 32767 (target: at most 1.25):"
  echo
  echo "| operation | layout | own share 32767/1024 | whole call 32767/1024 | peak B/rec at 32767 | page faults/rec at 1024, 32767 |"
  echo "|---|---|---:|---:|---:|---:|"
  awk -F'\t' '$4 == 0 && ($3 == 1024 || $3 == 32767) {
      k = $1 "|" $2; if (!(k in seen)) { seen[k] = 1; order[++n] = k }
      own[k, $3] = $6; cpu[k, $3] = $5; peak[k, $3] = $9; faults[k, $3] = $15
    }
    END {
      for (i = 1; i <= n; i++) {
        k = order[i]; split(k, p, "|")
        if (own[k, 1024] == "" || own[k, 32767] == "") continue
        printf "| %s | %s | %.2f | %.2f | %.0f | %.2f, %.2f |\n", p[1], p[2],
          own[k, 32767] / own[k, 1024], cpu[k, 32767] / cpu[k, 1024], peak[k, 32767],
          faults[k, 1024], faults[k, 32767]
      }
    }' "$work/rows.tsv"
  echo
  echo "Logging: the plug-in's own µs per record at the default threshold (0) and at the most verbose (5), lines into a sink that drops them:"
  echo
  echo "| operation | layout | N | own µs/rec, level 0 | own µs/rec, level 5 | lines/rec, level 0 | lines/rec, level 5 |"
  echo "|---|---|---:|---:|---:|---:|---:|"
  awk -F'\t' '{ k = $1 "|" $2 "|" $3
      if ($4 == 0) { own0[k] = $6; lines0[k] = $14 } else { own5[k] = $6; lines5[k] = $14; order[++n] = k } }
    END {
      for (i = 1; i <= n; i++) {
        k = order[i]; split(k, p, "|")
        if (own0[k] == "") continue
        printf "| %s | %s | %d | %.1f | %.1f | %.1f | %.1f |\n", p[1], p[2], p[3],
          own0[k], own5[k], lines0[k], lines5[k]
      }
    }' "$work/rows.tsv"
} >"$work/tables.md"

if grep -q '^<!-- results:begin -->$' "$doc" && grep -q '^<!-- results:end -->$' "$doc"; then
  awk -v tables="$work/tables.md" '
    /^<!-- results:end -->$/ { while ((getline line < tables) > 0) print line; print; skip = 0; next }
    skip { next }
    /^<!-- results:begin -->$/ { print; print ""; skip = 1; next }
    { print }' "$doc" >"$work/doc.md"
  # The blank line before the end marker.
  sed -i 's/^<!-- results:end -->$/\n&/' "$work/doc.md"
  cp "$work/doc.md" "$doc"
  if [[ $plot == yes ]]; then
    echo "plugin_bench.sh: wrote $json, $out/plugin_bench.svg and the tables of $doc"
  else
    echo "plugin_bench.sh: wrote $json and the tables of $doc"
  fi
else
  cp "$work/tables.md" "$out/tables.md"
  echo "plugin_bench.sh: $doc has no results markers; tables in $out/tables.md"
fi
