#!/usr/bin/env bash
# Runs the benchmarks behind the published figures and writes
#   bench/results/<date>-<cpu model>-<cores>cores.md, .csv and .png
# Every figure comes with a ratio measured in the same run.
#   bench/report.sh [build dir (build-bench)] [--quick]
#     --quick: batches of 1, 16 and 64 and 10,000 volumes for the tools, one run
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
quick=${2:-}
for b in bench_cim_decode bench_flows bench_svcsim; do
  [ -x "$build/bench/$b" ] || { echo "missing $build/bench/$b (build first: ./dev bench)" >&2; exit 1; }
done
command -v gnuplot >/dev/null || { echo "missing gnuplot (./dev bench installs gnuplot-nox)" >&2; exit 1; }

cpu=$(lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -1)
[ -n "$cpu" ] || cpu=$(uname -m)
cores=$(nproc)
slug=$(printf '%s' "$cpu" | tr -cs 'A-Za-z0-9' '-' | sed 's/^-*//; s/-*$//')
mkdir -p bench/results
base=bench/results/$(date -u +%F)-$slug-${cores}cores
csv=$base.csv
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%F %H:%M UTC')

sizes=1,16,64,256 volumes=50000 runs=3
if [ "$quick" = "--quick" ]; then sizes=1,16,64 volumes=10000 runs=1; fi

echo "section,item,size,value,unit,ratio,against" >"$csv"
echo "== CIM decoding against pugixml" >&2
"$build/bench/bench_cim_decode" --summary-only --csv "$csv" >&2
echo "== zqcim against curl and wbemcli, $volumes volumes" >&2
BENCH_CSV=$csv bench/zqcim_vs_tools.sh "$build" "$volumes" "$runs" >&2
echo "== the engine's flows against their floor" >&2
"$build/bench/bench_flows" --sizes "$sizes" --csv "$csv" >&2
echo "== simulator capacity" >&2
"$build/bench/bench_svcsim" --benchmark_out="$work/svcsim.csv" --benchmark_out_format=csv >&2
# Google Benchmark's csv: columns found by name in its header line
awk -F, -v OFS=, '
  { gsub(/"/, "") }
  /^name,/ { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  !("name" in col) { next }
  $col["name"] ~ /^GetVolumeConcurrently.*threads:1$/ { one = $col["items_per_second"] }
  $col["name"] ~ /^GetVolumeConcurrently.*threads:8$/ { eight = $col["items_per_second"] }
  $col["name"] ~ /^EnumerateVolumes\// { full = $col["real_time"]; fullMB = $col["answer_MB"] }
  $col["name"] ~ /^EnumerateVolumesNameOnly\// { nameOnly = $col["real_time"] }
  $col["name"] ~ /^EnumerateVolumeNames\// { names = $col["real_time"] }
  END {
    printf "simulator,GetInstance per second 1 client,1,%.0f,requests/s,1.00,1 client\n", one
    printf "simulator,GetInstance per second 8 clients,8,%.0f,requests/s,%.2f,1 client\n", eight, eight / one
    printf "simulator,EnumerateInstances of every volume,50000,%.0f,ms,1.00,EnumerateInstances\n", full
    printf "simulator,EnumerateInstances of one property,50000,%.0f,ms,%.2f,EnumerateInstances\n", nameOnly, nameOnly / full
    printf "simulator,EnumerateInstanceNames,50000,%.0f,ms,%.2f,EnumerateInstances\n", names, names / full
    printf "simulator,answer of every volume,50000,%.1f,MB,,\n", fullMB
  }' "$work/svcsim.csv" >>"$csv"

# The report: one table per section
{
  echo "# Speed figures, $started"
  echo
  echo "CPU: $cpu, $cores cores; load average before the run: $load_before;"
  echo "commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown); produced by \`./dev bench\` (bench/report.sh)."
  echo "Each ratio is against the figure named beside it, measured in the same run."
  echo
  echo "![ratios]($(basename "$base").png)"
  awk -F, '
    NR == 1 || $1 == "engine" { next }
    $1 != section {
      section = $1
      title["cim_decode"] = "CIM decoding of an EnumerateInstances answer (thread CPU time, best of 5)"
      title["tools"] = "zqcim against curl (the raw transfer) and wbemcli, one answer of every volume (best run)"
      title["simulator"] = "Simulator capacity"
      printf "\n## %s\n\n| item | size | value | ratio | against |\n|---|---:|---:|---:|---|\n", title[section]
    }
    { printf "| %s | %s | %s %s | %s | %s |\n", $2, $3, $4, $5, ($6 == "" ? "" : $6 "x"), $7 }' "$csv"
  # The engine: one row per flow and batch size. The floor counts each
  # phase's requests at the pool's width and each wait once.
  awk -F, '
    $1 != "engine" { next }
    {
      split($2, words, " "); flow = words[1]; item = substr($2, length(flow) + 2); key = flow SUBSEP $3
      if (!(key in seen)) { seen[key] = 1; order[++n] = key }
      value[key, item] = $4; ratio[key, item] = $6
    }
    END {
      if (n == 0) exit
      print "\n## The engine: every flow on a snapshot batch in a group, 20 ms per request\n"
      print "Engine time at 2 s per request (the waits plus the requests at a time scale of 0.01); the floor"
      print "counts each phase'"'"'s requests at the pool'"'"'s width (16) and the waits of one device once.\n"
      print "| flow | devices | wall s | wall / floor | engine s | engine / floor | engine / 1 device | waits s | requests per device |"
      print "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
      for (i = 1; i <= n; ++i) {
        k = order[i]; split(k, part, SUBSEP)
        printf "| %s | %s | %s | %sx | %s | %sx | %sx | %s | %s |\n", part[1], part[2], value[k, "wall time"],
               ratio[k, "wall time"], value[k, "engine time"], ratio[k, "engine time"],
               ratio[k, "engine time against 1 device"], value[k, "waits"], value[k, "requests per device"]
      }
    }' "$csv"
} >"$base.md"

# The plot: four panels of ratios
awk -F, '$1 == "cim_decode" && $2 ~ /^zqcim/ {
  print "\"" ($2 ~ /memory/ ? "memory " : "time ") $3 / 1000 "k\"", $6 }' "$csv" >"$work/decode.dat"
awk -F, '$1 == "tools" && $6 != "" { print "\"" $2 "\"", $6 }' "$csv" >"$work/tools.dat"
# engine.dat: a header line (flow and the batch sizes), then one line per flow
awk -F, '$1 == "engine" && $2 ~ / engine time$/ {
           flow = substr($2, 1, index($2, " ") - 1)
           if (!(flow in seen)) { seen[flow] = 1; flows[++n] = flow }
           if (!($3 in isSize)) { isSize[$3] = 1; sizes[++m] = $3 }
           r[flow, $3] = $6 }
         END { header = "flow"; for (j = 1; j <= m; ++j) header = header " \"" sizes[j] " devices\""; print header
               for (i = 1; i <= n; ++i) { line = "\"" flows[i] "\""
                 for (j = 1; j <= m; ++j) line = line " " ((flows[i], sizes[j]) in r ? r[flows[i], sizes[j]] : 0)
                 print line } }' "$csv" >"$work/engine.dat"
engine_columns=$(head -1 "$work/engine.dat" | awk -F'"' '{ print (NF - 1) / 2 + 1 }')
awk -F, '$1 == "simulator" && $2 ~ /^GetInstance/ { print "\"" $3 " client(s)\"", $4 }' "$csv" >"$work/sim.dat"
gnuplot <<GP
set terminal pngcairo size 1200,900 font "Sans,10" noenhanced
set output "$base.png"
set multiplot layout 2,2 title "$cpu, $cores cores, $started"
set style data histograms
set style fill solid 0.6 border -1
set boxwidth 0.8
set grid ytics
set yrange [0:*]
set title "CIM decoding: ratio to pugixml in place"
plot "$work/decode.dat" using 2:xtic(1) notitle
set title "One enumeration of $volumes volumes: ratio to curl"
plot "$work/tools.dat" using 2:xtic(1) notitle
set title "Engine flows: engine time against the floor, per batch size"
set style histogram clustered gap 1
plot for [c=2:$engine_columns] "$work/engine.dat" using c:xtic(1) title columnheader(c)
set style histogram clustered gap 2
set title "Simulator: GetInstance per second"
set xlabel ""
plot "$work/sim.dat" using 2:xtic(1) notitle
unset multiplot
GP
echo "wrote $base.md, $base.csv and $base.png"
