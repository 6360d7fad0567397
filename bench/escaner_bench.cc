// Throughput of the input side alone: the scanner cutting a real text into
// tokens, and the scanner plus the character ring delivering every character
// to a caller that never re-reads (as the analysis loop sees fresh input).
// Reads ../shared/corpus/ca.txt (and ca-sb.txt, text with superblanks) from
// the page cache; a benchmark whose file is absent is skipped.
//
//   build/bench/escaner_bench --benchmark_counters_tabular=true
//
// The bytes_per_second counter is the figure to quote (input bytes).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "input/escaner.h"
#include "input/lector.h"

namespace etiquem {
namespace {

std::string Corpus(const char* nom) {
  return std::string(ETIQUEM_SHARED) + "/corpus/" + nom;
}

// Opens `cami` for one pass; returns -1 (and skips the benchmark) if absent.
int Obre(benchmark::State& st, const std::string& cami, int64_t& mida) {
  int fd = open(cami.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat s;
  if (fd < 0 || fstat(fd, &s) != 0) {
    st.SkipWithError((cami + " is absent").c_str());
    return -1;
  }
  mida = s.st_size;
  return fd;
}

void BM_Escaner(benchmark::State& st, const char* nom) {
  int64_t mida = 0, tokens = 0;
  const std::string cami = Corpus(nom);
  auto e = std::make_unique<Escaner>();
  for (auto _ : st) {
    int fd = Obre(st, cami, mida);
    if (fd < 0) return;
    IniciaEscaner(*e, fd);
    int t;
    while ((t = yylex(*e)) != TOKEN_FINAL) {
      benchmark::DoNotOptimize(t);
      ++tokens;
    }
    close(fd);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * mida);
  st.counters["tokens"] = benchmark::Counter(
      double(tokens), benchmark::Counter::kAvgIterations);
}

void BM_EscanerILector(benchmark::State& st, const char* nom) {
  int64_t mida = 0, caracters = 0;
  const std::string cami = Corpus(nom);
  auto e = std::make_unique<Escaner>();
  auto l = std::make_unique<Lector>();
  for (auto _ : st) {
    int fd = Obre(st, cami, mida);
    if (fd < 0) return;
    IniciaEscaner(*e, fd);
    IniciaLector(*l, e.get());
    int k, c;
    while ((c = ObtenerCaracter(*l, k)) != FI_ENTRADA) {
      benchmark::DoNotOptimize(c);
      benchmark::DoNotOptimize(k);
      ++caracters;
      // The emission writes each waiting superblank out; drop them so the
      // queue stays as short as in a real run.
      if (!l->superblancs.empty()) l->superblancs.pop_front();
    }
    close(fd);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * mida);
  st.counters["caracters"] = benchmark::Counter(
      double(caracters), benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_Escaner, ca, "ca.txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EscanerILector, ca, "ca.txt")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EscanerILector, ca_sb, "ca-sb.txt")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace etiquem

BENCHMARK_MAIN();
