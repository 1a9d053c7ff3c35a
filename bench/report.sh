#!/usr/bin/env bash
# Runs the benchmarks behind the published figures and writes
#   bench/results/<date>-<cpu model>-<cores>cores.md, .csv and .png
# Every figure comes with a ratio measured in the same run.
#   bench/report.sh [build dir (build-bench)] [--quick]
#     --quick: batches of 1, 8 and 64 and 10,000 volumes for the tools, one run
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

sizes=1,8,64,256 volumes=50000 runs=3
if [ "$quick" = "--quick" ]; then sizes=1,8,64 volumes=10000 runs=1; fi

echo "section,item,size,value,unit,ratio,against" >"$csv"
echo "== CIM decoding against pugixml" >&2
"$build/bench/bench_cim_decode" --summary-only --csv "$csv" >&2
echo "== zqcim against curl and wbemcli, $volumes volumes" >&2
BENCH_CSV=$csv bench/zqcim_vs_tools.sh "$build" "$volumes" "$runs" >&2
echo "== the engine's batches against their floor" >&2
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
    NR == 1 { next }
    $1 != section {
      section = $1
      title["cim_decode"] = "CIM decoding of an EnumerateInstances answer (thread CPU time, best of 5)"
      title["tools"] = "zqcim against curl (the raw transfer) and wbemcli, one answer of every volume (best run)"
      title["engine"] = "The engine: prepare, snap and delete of a snapshot batch in a group, 20 ms per request"
      title["simulator"] = "Simulator capacity"
      printf "\n## %s\n\n| item | size | value | ratio | against |\n|---|---:|---:|---:|---|\n", title[section]
    }
    { printf "| %s | %s | %s %s | %s | %s |\n", $2, $3, $4, $5, ($6 == "" ? "" : $6 "x"), $7 }' "$csv"
} >"$base.md"

# The plot: four panels of ratios
awk -F, '$1 == "cim_decode" && $2 ~ /^zqcim/ {
  print "\"" ($2 ~ /memory/ ? "memory " : "time ") $3 / 1000 "k\"", $6 }' "$csv" >"$work/decode.dat"
awk -F, '$1 == "tools" && $6 != "" { print "\"" $2 "\"", $6 }' "$csv" >"$work/tools.dat"
awk -F, '$1 == "engine" && $2 == "wall time" { w[$3] = $6; order[++n] = $3 }
         $1 == "engine" && $2 == "requests per device" { r[$3] = $6 }
         END { for (i = 1; i <= n; ++i) print order[i], w[order[i]], r[order[i]] }' "$csv" >"$work/engine.dat"
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
set title "Engine batches: ratio to the floor"
set xlabel "devices"
plot "$work/engine.dat" using 2:xtic(1) title "wall time", "" using 3 title "requests"
set title "Simulator: GetInstance per second"
set xlabel ""
plot "$work/sim.dat" using 2:xtic(1) notitle
unset multiplot
GP
echo "wrote $base.md, $base.csv and $base.png"
