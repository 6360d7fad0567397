#!/usr/bin/env bash
# Throughput benchmark: etiquem side by side with the running-text analysers
# a user would otherwise pick (HFST's hfst-proc, foma's flookup), on the same
# lexicons and the same text. See bench/README.md.
#
#   bench/run.sh [--runs N] [--no-es] [--no-peers] [--install-peers]
#                [--strace] [--big] [--bin PATH] [--build-dir DIR]
#                [--chart FILE | --no-chart]
#
# Reads ../shared (beside the repository); skips cleanly when it is absent.
set -euo pipefail
export LC_ALL=C

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SHARED=${ETIQUEM_SHARED:-$ROOT/../shared}
CACHE=${ETIQUEM_BENCH_CACHE:-$ROOT/bench/.cache}
RESULTS=$CACHE/results

RUNS=5
DO_ES=1
DO_PEERS=1
INSTALL_PEERS=0
DO_STRACE=0
DO_BIG=0
BIN=
BUILD_DIR=$ROOT/build-release
CHART=$ROOT/bench/throughput.svg

usage() {
  cat <<'EOF'
usage: bench/run.sh [options]
  --runs N          timed runs per measurement, after one warm-up (default 5)
  --no-es           Catalan only (skip es.txt / es.bin)
  --no-peers        etiquem only
  --install-peers   apt-get update && apt-get install -y hfst foma, then run
  --strace          also write `strace -c -e trace=read,pread64,write` of one etiquem
                    run on ca.txt (write calls per read call)
  --big             also measure etiquem's peak memory on ~1 GB of input
                    (ca.txt repeated, piped in; output to /dev/null)
  --bin PATH        use this etiquem binary instead of building one
  --build-dir DIR   Release build directory (default: build-release)
  --chart FILE      draw the MB/s of this run as an SVG chart in FILE, with
                    gnuplot (default: bench/throughput.svg, the README's)
  --no-chart        no chart
EOF
}

while (($#)); do
  case $1 in
    --runs) RUNS=${2:?--runs needs a number}; shift ;;
    --runs=*) RUNS=${1#*=} ;;
    --no-es) DO_ES=0 ;;
    --no-peers) DO_PEERS=0 ;;
    --install-peers) INSTALL_PEERS=1 ;;
    --strace) DO_STRACE=1 ;;
    --big) DO_BIG=1 ;;
    --bin) BIN=${2:?--bin needs a path}; shift ;;
    --build-dir) BUILD_DIR=${2:?--build-dir needs a directory}; shift ;;
    --chart) CHART=${2:?--chart needs a file}; shift ;;
    --no-chart) CHART= ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs wants a positive number" >&2; exit 2; }

log() { printf '%s\n' "$*" >&2; }

if [[ ! -d $SHARED/corpus || ! -d $SHARED/lexicon ]]; then
  log "bench: $SHARED not found (corpus and lexicons live there); skipped."
  exit 0
fi
SHARED=$(cd "$SHARED" && pwd)

# ---------------------------------------------------------------- set-up
apt_install() {
  if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null; then
    log "bench: cannot install $* (needs root and apt-get)"; return 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >&2
}

if ((INSTALL_PEERS)); then
  log "bench: installing hfst and foma"
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
    apt-get update -q >&2 && apt_install hfst foma || log "bench: peer install failed; going on"
  else
    log "bench: --install-peers needs root and apt-get; going on without"
  fi
fi
if [[ ! -x /usr/bin/time ]]; then
  log "bench: /usr/bin/time missing; installing package 'time'"
  apt_install time || true
fi
HAVE_TIME=0; [[ -x /usr/bin/time ]] && HAVE_TIME=1
if ((DO_STRACE)) && ! command -v strace >/dev/null; then
  apt_install strace || true
fi

mkdir -p "$CACHE" "$RESULTS"
if [[ -d /dev/shm && -w /dev/shm ]]; then OUTBASE=/dev/shm; else OUTBASE=${TMPDIR:-/tmp}; fi
OUT=$(mktemp -d "$OUTBASE/etiquem-bench.XXXXXX")
trap 'rm -rf "$OUT"' EXIT
: > "$OUT/empty"
ERRLOG=$RESULTS/stderr.log
: > "$ERRLOG"
ROWS=$RESULTS/rows.tsv
: > "$ROWS"
NOTES=()

LANGS=(ca)
((DO_ES)) && LANGS+=(es)

# ---------------------------------------------------------------- helpers

# median of the numbers on stdin (mean of the middle two for an even count)
median() { sort -g | awk '{a[NR]=$1} END{ if (NR==0) {print "nan"; exit}
  if (NR%2) print a[(NR+1)/2]; else printf "%.6f\n", (a[NR/2]+a[NR/2+1])/2 }'; }

short_sha() { sha256sum "$1" | cut -c1-12; }

# run_once IN OUTFILE cmd... : runs cmd <IN >OUTFILE, prints elapsed seconds
run_once() {
  local in=$1 out=$2; shift 2
  local t0 t1
  t0=${EPOCHREALTIME/./}
  "$@" < "$in" > "$out" 2>>"$ERRLOG" || return $?
  t1=${EPOCHREALTIME/./}
  awk -v d=$((t1 - t0)) 'BEGIN{printf "%.6f\n", d/1e6}'
}

# measure TOOL LANG IN WORDS cmd...
# One warm-up run, RUNS timed runs (wall time from the shell's clock; CPU time
# and peak RSS from /usr/bin/time around the same runs), then the load time:
# the same command on empty input, without /usr/bin/time. Appends one row.
measure() {
  local tool=$1 lang=$2 in=$3 words=$4; shift 4
  local out=$OUT/$tool.$lang.out bytes rss=0 cpu rc=0 t times=() cpus=() sha sha2 load_n loads=()
  local wrap=()
  ((HAVE_TIME)) && wrap=(/usr/bin/time -f '%U %S %M' -o "$OUT/usage")
  bytes=$(stat -c %s "$in")
  log "bench: $tool on $lang ($((bytes / 1000000)) MB): warm-up + $RUNS runs"
  "$@" < "$in" > "$out" 2>>"$ERRLOG" || rc=$?
  if [[ $rc -ne 0 ]]; then
    log "bench: $tool on $lang failed (exit $rc); see $ERRLOG"
    NOTES+=("$tool on $lang: failed with exit status $rc")
    return 0
  fi
  sha=$(short_sha "$out")
  for ((i = 0; i < RUNS; i++)); do
    t=$(run_once "$in" "$out" "${wrap[@]}" "$@") || { log "bench: $tool on $lang failed in a timed run"; return 0; }
    times+=("$t")
    if ((HAVE_TIME)); then
      read -r cpu rss < <(awk -v m="$rss" 'NF >= 3 { print $1 + $2, ($3 > m ? $3 : m) }' "$OUT/usage")
      cpus+=("$cpu")
    fi
  done
  sha2=$(short_sha "$out")
  if [[ $sha != "$sha2" ]]; then
    NOTES+=("$tool on $lang: output differs between runs ($sha vs $sha2)")
    sha="$sha!"
  fi
  load_n=$((RUNS < 11 ? 11 : RUNS))
  for ((i = 0; i < load_n; i++)); do
    t=$(run_once "$OUT/empty" "$OUT/load.out" "$@") || { t=nan; break; }
    loads+=("$t")
  done
  local med lo hi load cpumed=nan
  med=$(printf '%s\n' "${times[@]}" | median)
  lo=$(printf '%s\n' "${times[@]}" | sort -g | head -n1)
  hi=$(printf '%s\n' "${times[@]}" | sort -g | tail -n1)
  load=$(printf '%s\n' "${loads[@]}" | median)
  ((HAVE_TIME)) && cpumed=$(printf '%s\n' "${cpus[@]}" | median) || rss=nan
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' \
    "$lang" "$tool" "$bytes" "$words" "$med" "$lo" "$hi" "$rss" "$load" "$sha" "$cpumed" >> "$ROWS"
  log "$(printf 'bench:   median %.3f s (%.3f..%.3f), cpu %s s, load %.1f ms, peak RSS %s KB, sha %s' \
    "$med" "$lo" "$hi" "$cpumed" "$(awk -v l="$load" 'BEGIN{print l*1000}')" "$rss" "$sha")"
}

# a few lower-case entries of a lexicon, "surface<TAB>lexical" (Latin-1, and UTF-8)
probe_latin1() {
  awk -F'\t' '$1 ~ /^[a-z]+$/ && NR >= nx { print; nx = NR + 100000; if (++k == 3) exit }' \
    "$SHARED/lexicon/$1.tsv"
}
probe_entries() { probe_latin1 "$1" | iconv -f ISO-8859-1 -t UTF-8; }

fresh() { [[ -s $1 && ! $2 -nt $1 ]]; }   # fresh TARGET SOURCE

# ---------------------------------------------------------------- etiquem
ETQ=
build_etiquem() {
  if [[ -n $BIN ]]; then
    [[ -x $BIN ]] || { log "bench: --bin $BIN is not executable"; return 1; }
    ETQ=$(cd "$(dirname "$BIN")" && pwd)/$(basename "$BIN"); return 0
  fi
  local blog=$RESULTS/build.log
  log "bench: building etiquem (Release) in $BUILD_DIR"
  if ! { cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DETIQUEM_TESTS=OFF \
         && cmake --build "$BUILD_DIR" --target etiquem -j "$(nproc)"; } > "$blog" 2>&1; then
    log "bench: etiquem build FAILED; last lines of $blog:"
    tail -n 15 "$blog" | sed 's/^/    /' >&2
    return 1
  fi
  ETQ=$BUILD_DIR/etiquem
  [[ -x $ETQ ]] || { log "bench: build ended without $ETQ"; return 1; }
}

# smoke test: a word of the lexicon must come out with its reading
etiquem_works() {
  local lang=$1 surf lex got
  IFS=$'\t' read -r surf lex < <(probe_latin1 "$lang" | head -n1)
  lex=$(printf '%s' "$lex" | sed 's/<\([^>]*\)>/\&\1;/g')
  got=$(printf '%s\n' "$surf" | "$ETQ" -b "$SHARED/lexicon/$lang.bin" 2>&1) || true
  if [[ $got != *"$lex"* ]]; then
    log "bench: etiquem smoke test on $lang failed: '$surf' gave '${got:0:200}', expected it to contain '$lex'"
    return 1
  fi
}

ETQ_OK=0
if build_etiquem; then
  if etiquem_works ca; then ETQ_OK=1; fi
else
  NOTES+=("etiquem: build failed (see $RESULTS/build.log); peers measured alone")
fi
((ETQ_OK)) || [[ ${NOTES[*]-} == *"build failed"* ]] || NOTES+=("etiquem: does not work end to end yet; not measured")

# ---------------------------------------------------------------- peers
HAVE_HFST=0; HAVE_FOMA=0
if ((DO_PEERS)); then
  if command -v hfst-proc >/dev/null && command -v hfst-txt2fst >/dev/null \
     && command -v hfst-minimize >/dev/null && command -v hfst-fst2fst >/dev/null; then
    HAVE_HFST=1
  else
    NOTES+=("hfst-proc: not installed (bench/run.sh --install-peers)")
  fi
  if command -v foma >/dev/null && command -v flookup >/dev/null; then
    HAVE_FOMA=1
  else
    NOTES+=("flookup: not installed (bench/run.sh --install-peers)")
  fi
fi

# hfst-proc wants an optimized-lookup transducer whose input side is the
# surface: the AT&T files already have the surface as input, so no inversion.
prepare_hfst() {
  local lang=$1 att=$SHARED/lexicon/$1.att ol=$CACHE/$1.hfst.ol in=$CACHE/$1.hfst-in.txt
  if ! fresh "$ol" "$att"; then
    log "bench: compiling $lang.att for hfst-proc"
    hfst-txt2fst -e '@0@' "$att" -o "$CACHE/$lang.tmp.hfst" 2>>"$ERRLOG" &&
    hfst-minimize "$CACHE/$lang.tmp.hfst" -o "$CACHE/$lang.min.hfst" 2>>"$ERRLOG" &&
    hfst-fst2fst -O "$CACHE/$lang.min.hfst" -o "$ol.tmp" 2>>"$ERRLOG" &&
    mv "$ol.tmp" "$ol" || { log "bench: compiling $lang.att for hfst failed"; return 1; }
    rm -f "$CACHE/$lang.tmp.hfst" "$CACHE/$lang.min.hfst"
  fi
  # hfst-proc's own markup characters are escaped, then the text goes to UTF-8
  if ! fresh "$in" "$SHARED/corpus/$lang.txt"; then
    log "bench: preparing $lang.txt for hfst-proc (escaped, UTF-8)"
    sed 's/[][\\^$/@<>{}]/\\&/g' "$SHARED/corpus/$lang.txt" | iconv -f ISO-8859-1 -t UTF-8 > "$in.tmp" \
      && mv "$in.tmp" "$in" || return 1
  fi
  local surf lex got
  while IFS=$'\t' read -r surf lex; do
    got=$(printf '%s\n' "$surf" | hfst-proc "$ol" 2>>"$ERRLOG") || true
    [[ $got == *"/$lex"[/\$]* ]] || { log "bench: hfst-proc check: '$surf' gave '$got', wanted '$lex'"; return 1; }
  done < <(probe_entries "$lang")
}

# flookup reads one token per line; the net is inverted so that lookup goes
# from the surface (the AT&T input side) to the lexical form.
prepare_foma() {
  local lang=$1 att=$SHARED/lexicon/$1.att net=$CACHE/$1.foma in=$CACHE/$1.tokens.txt
  if ! fresh "$net" "$att"; then
    log "bench: compiling $lang.att for flookup"
    foma -e "read att $att" -e 'invert net' -e "save stack $net.tmp" -e quit >>"$ERRLOG" 2>&1 &&
    [[ -s $net.tmp ]] && mv "$net.tmp" "$net" || { log "bench: compiling $lang.att for foma failed"; return 1; }
  fi
  if ! fresh "$in" "$SHARED/corpus/$lang.txt"; then
    log "bench: preparing $lang.txt for flookup (one token per line, UTF-8)"
    tr -s ' \t\n\r\v\f' '\n' < "$SHARED/corpus/$lang.txt" | { grep -v '^$' || true; } \
      | iconv -f ISO-8859-1 -t UTF-8 > "$in.tmp" && mv "$in.tmp" "$in" || return 1
  fi
  local surf lex got
  while IFS=$'\t' read -r surf lex; do
    got=$(printf '%s\n' "$surf" | flookup "$net" 2>>"$ERRLOG") || true
    [[ $got == *"$surf"$'\t'"$lex"* ]] || { log "bench: flookup check: '$surf' gave '$got', wanted '$lex'"; return 1; }
  done < <(probe_entries "$lang")
}

# ---------------------------------------------------------------- run
LOAD0=$(cut -d' ' -f1-3 /proc/loadavg)
if awk -v l="${LOAD0%% *}" -v n="$(nproc)" 'BEGIN{ exit !(l > n / 4) }'; then
  log "bench: warning: load average $LOAD0 on $(nproc) cores; other work will disturb the timings"
  NOTES+=("the machine was busy at the start (load average $LOAD0): wall times are noisy, compare cpu s")
fi
log "bench: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), outputs in $OUT"

for lang in "${LANGS[@]}"; do
  txt=$SHARED/corpus/$lang.txt bin=$SHARED/lexicon/$lang.bin att=$SHARED/lexicon/$lang.att
  if [[ ! -f $txt || ! -f $bin ]]; then
    NOTES+=("$lang: $txt or $bin missing; skipped"); continue
  fi
  words=$(wc -w < "$txt")
  if ((ETQ_OK)); then
    if [[ $lang == ca ]] || etiquem_works "$lang"; then
      measure etiquem "$lang" "$txt" "$words" "$ETQ" -b "$bin"
      # the same through a pipe: one thread, as when etiquem reads a stream
      measure etiquem-pipe "$lang" "$txt" "$words" sh -c 'cat | "$0" -b "$1"' "$ETQ" "$bin"
      # --utf8 on the same text written as UTF-8, from the file and piped
      if [[ $lang == ca ]]; then
        u8=$CACHE/$lang.utf8.txt
        if ! fresh "$u8" "$txt"; then
          iconv -f ISO-8859-1 -t UTF-8 "$txt" > "$u8.tmp" && mv "$u8.tmp" "$u8"
        fi
        measure etiquem-utf8 "$lang" "$u8" "$words" "$ETQ" --utf8 -b "$bin"
        measure etiquem-utf8-pipe "$lang" "$u8" "$words" sh -c 'cat | "$0" --utf8 -b "$1"' "$ETQ" "$bin"
      fi
    else
      NOTES+=("etiquem on $lang: smoke test failed; not measured")
    fi
  fi
  if ((HAVE_HFST)) && [[ -f $att ]]; then
    if prepare_hfst "$lang"; then
      measure hfst-proc "$lang" "$CACHE/$lang.hfst-in.txt" "$words" hfst-proc "$CACHE/$lang.hfst.ol"
    else
      NOTES+=("hfst-proc on $lang: preparation or check failed (see $ERRLOG)")
    fi
  fi
  if ((HAVE_FOMA)) && [[ -f $att ]]; then
    if prepare_foma "$lang"; then
      measure flookup "$lang" "$CACHE/$lang.tokens.txt" "$(wc -l < "$CACHE/$lang.tokens.txt")" \
        flookup "$CACHE/$lang.foma"
    else
      NOTES+=("flookup on $lang: preparation or check failed (see $ERRLOG)")
    fi
  fi
done

# ---------------------------------------------------------------- extras
if ((DO_STRACE)); then
  if ((ETQ_OK)) && command -v strace >/dev/null; then
    st=$RESULTS/strace-ca.txt
    strace -f -c -e trace=read,pread64,write -o "$st" "$ETQ" -b "$SHARED/lexicon/ca.bin" \
      < "$SHARED/corpus/ca.txt" > "$OUT/strace.out" 2>>"$ERRLOG" || true
    reads=$(awk '$NF=="read"||$NF=="pread64"{n+=$4} END{print n+0}' "$st"); writes=$(awk '$NF=="write"{print $4}' "$st")
    NOTES+=("strace -c on ca.txt ($st): ${reads:-0} read and pread64 calls, ${writes:-0} write calls (all files)")
    # the same run traced call by call, to count reads of the input (fd 0)
    # and writes of the output (fd 1) alone
    strace -f -s 0 -e trace=read,pread64,write -o "$RESULTS/strace-ca.calls" "$ETQ" -b "$SHARED/lexicon/ca.bin" \
      < "$SHARED/corpus/ca.txt" > "$OUT/strace.out" 2>>"$ERRLOG" || true
    reads=$(grep -cE '^([0-9]+ +)?p?read(64)?\(0,' "$RESULTS/strace-ca.calls" || true)
    writes=$(grep -cE '^([0-9]+ +)?write\(1,' "$RESULTS/strace-ca.calls" || true)
    NOTES+=("strace on ca.txt: ${reads} reads of stdin, ${writes} writes to stdout, $(awk -v r="$reads" -v w="$writes" 'BEGIN{ if (r>0) printf "%.2f", w/r; else print "n/a"}') writes per input read")
    { echo; echo "stdin reads (fd 0): $reads; stdout writes (fd 1): $writes"; } >> "$st"
  else
    NOTES+=("--strace: needs a working etiquem and strace; skipped")
  fi
fi

if ((DO_BIG)); then
  if ((ETQ_OK && HAVE_TIME)); then
    txt=$SHARED/corpus/ca.txt
    reps=$(( (1000000000 + $(stat -c %s "$txt") - 1) / $(stat -c %s "$txt") ))
    log "bench: etiquem on ca.txt x $reps (piped, output to /dev/null) for peak memory"
    t0=${EPOCHREALTIME/./}
    if { for ((i = 0; i < reps; i++)); do cat "$txt"; done; } \
         | /usr/bin/time -f %M -o "$OUT/rss.big" "$ETQ" -b "$SHARED/lexicon/ca.bin" > /dev/null 2>>"$ERRLOG"; then
      t1=${EPOCHREALTIME/./}
      NOTES+=("$(awk -v r="$(tail -n1 "$OUT/rss.big")" -v n="$reps" -v b="$(stat -c %s "$txt")" -v d=$((t1 - t0)) \
        'BEGIN{printf "etiquem on %.2f GB (ca.txt x %d, piped): peak RSS %.1f MiB, %.1f s, %.1f MB/s", n*b/1e9, n, r/1024, d/1e6, n*b/1e6/(d/1e6)}')")
    else
      NOTES+=("--big: etiquem failed on the large input")
    fi
    # the same bytes as a file: read in pieces on every core
    if { for ((i = 0; i < reps; i++)); do cat "$txt"; done; } > "$OUT/big.txt" 2>>"$ERRLOG"; then
      t0=${EPOCHREALTIME/./}
      if /usr/bin/time -f %M -o "$OUT/rss.big" "$ETQ" -b "$SHARED/lexicon/ca.bin" < "$OUT/big.txt" > /dev/null 2>>"$ERRLOG"; then
        t1=${EPOCHREALTIME/./}
        NOTES+=("$(awk -v r="$(tail -n1 "$OUT/rss.big")" -v n="$reps" -v b="$(stat -c %s "$txt")" -v d=$((t1 - t0)) \
          'BEGIN{printf "etiquem on %.2f GB (ca.txt x %d, from a file): peak RSS %.1f MiB, %.1f s, %.1f MB/s", n*b/1e9, n, r/1024, d/1e6, n*b/1e6/(d/1e6)}')")
      else
        NOTES+=("--big: etiquem failed on the large file")
      fi
    else
      NOTES+=("--big: no room for a 1 GB file in $OUT")
    fi
    rm -f "$OUT/big.txt"
  else
    NOTES+=("--big: needs a working etiquem and /usr/bin/time; skipped")
  fi
fi

# ---------------------------------------------------------------- table
TABLE=$RESULTS/table.txt
{
  echo "etiquem benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $RUNS runs after a warm-up, medians"
  echo "load average at start: $LOAD0; at end: $(cut -d' ' -f1-3 /proc/loadavg)"
  awk -F'\t' '
    BEGIN { fmt = "%-4s %-10s %7s %9s %9s %15s %7s %8s %11s %8s %8s %-13s %7s %9s\n"
            printf fmt, "text", "tool", "MB in", "words", "median s", "min..max s", "cpu s", "MB/s", "words/s",
                   "RSS MiB", "load ms", "sha256", "MB/s x", "words/s x" }
    { n++; lang[n]=$1; tool[n]=$2; mb[n]=$3/1e6; w[n]=$4; t[n]=$5; lo[n]=$6; hi[n]=$7
      rss[n]=$8; load[n]=$9; sha[n]=$10; cpu[n]=$11
      mbs[n] = mb[n]/t[n]; wps[n] = w[n]/t[n]
      if ($2 == "etiquem") { emb[$1] = mbs[n]; ewps[$1] = wps[n] }
      if ($2 ~ /^etiquem/) { w_of[$1 "/" $2] = wps[n] } }
    END {
      for (i = 1; i <= n; i++) {
        rx = "-"; wx = "-"
        if (tool[i] != "etiquem" && (lang[i] in emb)) {
          rx = sprintf("%.1f", emb[lang[i]]/mbs[i]); wx = sprintf("%.1f", ewps[lang[i]]/wps[i]) }
        printf fmt, lang[i], tool[i], sprintf("%.2f", mb[i]), w[i], sprintf("%.3f", t[i]),
          sprintf("%.2f..%.2f", lo[i], hi[i]), (cpu[i] == "nan" ? "n/a" : sprintf("%.2f", cpu[i])), sprintf("%.2f", mbs[i]), sprintf("%.0f", wps[i]),
          (rss[i] == "nan" ? "n/a" : sprintf("%.1f", rss[i]/1024)), sprintf("%.1f", load[i]*1000),
          sha[i], rx, wx
      }
      for (l in emb) {
        f = l "/etiquem"; p = l "/etiquem-pipe"; uf = l "/etiquem-utf8"; up = l "/etiquem-utf8-pipe"
        if ((uf in w_of) && (up in w_of) && (p in w_of))
          printf "etiquem --utf8 on %s written as UTF-8 keeps %.0f %% of the Latin-1 words/s from a file, %.0f %% from a pipe\n",
            l, 100 * w_of[uf] / w_of[f], 100 * w_of[up] / w_of[p]
      } }' "$ROWS"
  echo "MB = 10^6 bytes fed to the tool (hfst-proc: escaped UTF-8 text; flookup: UTF-8 tokens one per line)."
  echo "words: wc -w of the text (flookup: tokens fed). cpu: user+sys. 'x' columns: etiquem / that tool, same text, this run (wall time)."
  for n in "${NOTES[@]}"; do echo "note: $n"; done
} > "$TABLE"
echo
cat "$TABLE"
log "bench: table in $TABLE, raw rows in $ROWS"

# ---------------------------------------------------------------- chart
if [[ -n $CHART && -s $ROWS ]]; then
  "$ROOT/bench/chart.sh" "$ROWS" "$CHART" \
    "$(date -u '+%Y-%m-%d'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), median of $RUNS runs"
fi
