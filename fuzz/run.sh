#!/usr/bin/env bash
# Builds the fuzz targets and runs them: first every input kept in
# fuzz/regressions/<target>/ (each once), then each target for a bounded time
# from its seed corpus fuzz/corpus/<target>/. Exits non-zero on any finding.
#
#   ETIQUEM_FUZZ_SEGONS   seconds of fuzzing per target (default 60; 0 runs
#                         the seeds and regressions only)
#   ETIQUEM_FUZZ_BUILD    build directory (default build-fuzz at the top)
#   ETIQUEM_FUZZ_TARGETS  targets to run (default: all that were built)
#
# The corpus that a run grows stays in the build directory; the seeds in the
# repository are only read. A crashing input is left in
# <build>/troballes/<target>/; once the fault is fixed, copy it into
# fuzz/regressions/<target>/ so that every later run replays it.
set -uo pipefail

arrel="$(cd "$(dirname "$0")/.." && pwd)"
segons="${ETIQUEM_FUZZ_SEGONS:-60}"
build="${ETIQUEM_FUZZ_BUILD:-$arrel/build-fuzz}"

cxx="${CXX_FUZZ:-}"
if [ -z "$cxx" ]; then
  for c in clang++ clang++-14; do
    if command -v "$c" >/dev/null 2>&1; then cxx="$c"; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "fuzz/run.sh: clang++ not found (the fuzz targets need libFuzzer)" >&2
  exit 2
fi

cmake -S "$arrel/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null &&
  cmake --build "$build" -j"$(nproc)" || {
    echo "fuzz/run.sh: the fuzz targets do not build" >&2
    exit 2
  }

if [ -n "${ETIQUEM_FUZZ_TARGETS:-}" ]; then
  objectius=($ETIQUEM_FUZZ_TARGETS)
else
  objectius=()
  for t in automat escaner analisi lexic att; do
    [ -x "$build/fuzz_$t" ] && objectius+=("$t")
  done
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
comuns=(-timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1)

falles=0
resum=()
for t in "${objectius[@]}"; do
  bin="$build/fuzz_$t"
  troballes="$build/troballes/$t"
  mkdir -p "$troballes" "$build/corpus/$t"

  regressions=()
  if [ -d "$arrel/fuzz/regressions/$t" ]; then
    while IFS= read -r -d '' f; do regressions+=("$f"); done < <(
      find "$arrel/fuzz/regressions/$t" -type f ! -name '*.md' -print0 | sort -z)
  fi
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== $t: ${#regressions[@]} regression inputs"
    : >"$build/$t.regressions.log"
    for f in "${regressions[@]}"; do
      if ! "$bin" "${comuns[@]}" -artifact_prefix="$troballes/" "$f" \
          >>"$build/$t.regressions.log" 2>&1; then
        echo "FINDING: $t fails on $f"
        falles=$((falles + 1))
      fi
    done
    grep -E 'runtime error|ERROR|fuzz:' "$build/$t.regressions.log" | sort -u | head -5
  fi

  [ "$segons" -gt 0 ] || continue
  echo "== $t: fuzzing for $segons s"
  "$bin" "${comuns[@]}" -max_total_time="$segons" \
    -artifact_prefix="$troballes/" "$build/corpus/$t" "$arrel/fuzz/corpus/$t" \
    >"$build/$t.log" 2>&1
  estat=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$t.log")
  persec=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/$t.log")
  resum+=("$t: ${execs:-?} runs, ${persec:-?} per second")
  if [ $estat -ne 0 ]; then
    echo "FINDING: $t (status $estat); log $build/$t.log, input:"
    ls -t "$troballes" | head -3 | sed "s|^|  $troballes/|"
    grep -aE 'runtime error|ERROR|fuzz:|SUMMARY' "$build/$t.log" | head -5
    falles=$((falles + 1))
  fi
done

[ ${#resum[@]} -eq 0 ] || printf '%s\n' "${resum[@]}"
if [ $falles -gt 0 ]; then
  echo "fuzz/run.sh: $falles finding(s)" >&2
  exit 1
fi
echo "fuzz/run.sh: no findings"
