#!/usr/bin/env bash
# Builds the fuzz targets and runs them: first every input kept in
# fuzz/regressions/<target>/ (each once), then each target for a bounded time
# from its seed corpus fuzz/corpus/<target>/. Exits non-zero on any finding.
#
#   ETIQUEM_FUZZ_SECONDS  seconds of fuzzing per target (default 60; 0 runs
#                         the seeds and regressions only)
#   ETIQUEM_FUZZ_BUILD    build directory (default build-fuzz at the top)
#   ETIQUEM_FUZZ_TARGETS  targets to run (default: all that were built)
#
# The corpus that a run grows stays in the build directory; the seeds in the
# repository are only read. A crashing input is left in
# <build>/found/<target>/; once the fault is fixed, copy it into
# fuzz/regressions/<target>/ so that every later run replays it.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${ETIQUEM_FUZZ_SECONDS:-60}"
build="${ETIQUEM_FUZZ_BUILD:-$root/build-fuzz}"

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

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null &&
  cmake --build "$build" -j"$(nproc)" || {
    echo "fuzz/run.sh: the fuzz targets do not build" >&2
    exit 2
  }

if [ -n "${ETIQUEM_FUZZ_TARGETS:-}" ]; then
  targets=($ETIQUEM_FUZZ_TARGETS)
else
  targets=()
  for t in automaton scanner analysis lexicon att; do
    [ -x "$build/fuzz_$t" ] && targets+=("$t")
  done
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
common=(-timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1)

findings=0
summary=()
for t in "${targets[@]}"; do
  bin="$build/fuzz_$t"
  found="$build/found/$t"
  mkdir -p "$found" "$build/corpus/$t"

  regressions=()
  if [ -d "$root/fuzz/regressions/$t" ]; then
    while IFS= read -r -d '' f; do regressions+=("$f"); done < <(
      find "$root/fuzz/regressions/$t" -type f ! -name '*.md' -print0 | sort -z)
  fi
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== $t: ${#regressions[@]} regression inputs"
    : >"$build/$t.regressions.log"
    for f in "${regressions[@]}"; do
      if ! "$bin" "${common[@]}" -artifact_prefix="$found/" "$f" \
          >>"$build/$t.regressions.log" 2>&1; then
        echo "FINDING: $t fails on $f"
        findings=$((findings + 1))
      fi
    done
    grep -E 'runtime error|ERROR|fuzz:' "$build/$t.regressions.log" | sort -u | head -5
  fi

  [ "$seconds" -gt 0 ] || continue
  echo "== $t: fuzzing for $seconds s"
  "$bin" "${common[@]}" -max_total_time="$seconds" \
    -artifact_prefix="$found/" "$build/corpus/$t" "$root/fuzz/corpus/$t" \
    >"$build/$t.log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$t.log")
  persec=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/$t.log")
  summary+=("$t: ${execs:-?} runs, ${persec:-?} per second")
  if [ $status -ne 0 ]; then
    echo "FINDING: $t (status $status); log $build/$t.log, input:"
    ls -t "$found" | head -3 | sed "s|^|  $found/|"
    grep -aE 'runtime error|ERROR|fuzz:|SUMMARY' "$build/$t.log" | head -5
    findings=$((findings + 1))
  fi
done

[ ${#summary[@]} -eq 0 ] || printf '%s\n' "${summary[@]}"
if [ $findings -gt 0 ]; then
  echo "fuzz/run.sh: $findings finding(s)" >&2
  exit 1
fi
echo "fuzz/run.sh: no findings"
