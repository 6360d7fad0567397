#!/usr/bin/env bash
# Draws the throughput of one benchmark run as an SVG bar chart: MB/s of
# each tool on each text, the tools side by side, from the rows that
# bench/run.sh writes (bench/.cache/results/rows.tsv). Needs gnuplot
# (Debian package gnuplot-nox); without it, says so and does nothing.
#
#   bench/chart.sh ROWS.tsv OUT.svg [SUBTITLE]
#
# rows.tsv: one row per measurement, tab-separated: text, tool, bytes fed,
# words, median wall seconds, min, max, peak RSS KiB, load seconds, sha,
# median CPU seconds. MB/s = bytes fed / 10^6 / median wall time, as in
# the table printed by run.sh.
set -euo pipefail
export LC_ALL=C

rows=${1:?usage: bench/chart.sh ROWS.tsv OUT.svg [SUBTITLE]}
out=${2:?usage: bench/chart.sh ROWS.tsv OUT.svg [SUBTITLE]}
subtitle=${3:-}

if ! command -v gnuplot > /dev/null; then
  echo "chart: gnuplot is not installed (apt-get install gnuplot-nox); no chart" >&2
  exit 0
fi

# One line per text, one column per tool in a fixed order ("-" where a tool
# was not measured on that text).
tools=(etiquem etiquem-pipe hfst-proc flookup)
data=$(mktemp)
trap 'rm -f "$data"' EXIT
awk -F'\t' -v tools="${tools[*]}" '
  BEGIN { nt = split(tools, tool, " ") }
  { if (!($1 in seen)) { seen[$1] = 1; text[++n] = $1 }
    mbs[$1, $2] = $3 / 1e6 / $5 }
  END {
    for (i = 1; i <= n; i++) {
      line = text[i] ".txt"
      for (j = 1; j <= nt; j++)
        line = line "\t" ((text[i], tool[j]) in mbs ? sprintf("%.2f", mbs[text[i], tool[j]]) : "-")
      print line
    } }' "$rows" > "$data"
[[ -s $data ]] || { echo "chart: no rows in $rows" >&2; exit 1; }

gnuplot <<GNUPLOT
set terminal svg size 720,420 dynamic font "sans,12" background "white"
set output "$out"
set title "Throughput, MB/s (higher is better)${subtitle:+\\n{/*0.8 $subtitle}}"
set datafile separator "\t"
set datafile missing "-"
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set ylabel "MB/s"
set yrange [0:*]
set grid ytics
set key top right
set xtics nomirror
set ytics nomirror
set border 3
plot "$data" using 2:xtic(1) title "etiquem (file, threads)" linecolor rgb "#1b6ca8", \
     ""      using 3 title "etiquem (pipe, one thread)" linecolor rgb "#6baed6", \
     ""      using 4 title "hfst-proc" linecolor rgb "#e6550d", \
     ""      using 5 title "flookup (tokens)" linecolor rgb "#31a354", \
     ""      using (\$0 - 0.3):2:(sprintf("%.1f", \$2)) with labels offset 0,0.7 notitle, \
     ""      using (\$0 - 0.1):3:(sprintf("%.1f", \$3)) with labels offset 0,0.7 notitle, \
     ""      using (\$0 + 0.1):4:(sprintf("%.2f", \$4)) with labels offset 0,0.7 notitle, \
     ""      using (\$0 + 0.3):5:(sprintf("%.1f", \$5)) with labels offset 0,0.7 notitle
GNUPLOT
echo "chart: $out" >&2
