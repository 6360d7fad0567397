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

#include "engine/reader.h"
#include "engine/scanner.h"

namespace etiquem {
namespace {

std::string Corpus(const char* name) {
  return std::string(ETIQUEM_SHARED) + "/corpus/" + name;
}

// Opens `path` for one pass; returns -1 (and skips the benchmark) if absent.
int Open(benchmark::State& st, const std::string& path, int64_t& size) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat s;
  if (fd < 0 || fstat(fd, &s) != 0) {
    st.SkipWithError((path + " is absent").c_str());
    return -1;
  }
  size = s.st_size;
  return fd;
}

Input FromDescriptor(int fd) {
  Input source;
  source.fd = fd;
  return source;
}

void BM_Scanner(benchmark::State& st, const char* name) {
  int64_t size = 0, tokens = 0;
  const std::string path = Corpus(name);
  auto e = std::make_unique<Scanner>();
  for (auto _ : st) {
    int fd = Open(st, path, size);
    if (fd < 0) return;
    InitScanner(*e, FromDescriptor(fd));
    int t;
    while ((t = NextToken(*e)) != kTokenEnd) {
      benchmark::DoNotOptimize(t);
      ++tokens;
    }
    close(fd);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * size);
  st.counters["tokens"] =
      benchmark::Counter(double(tokens), benchmark::Counter::kAvgIterations);
}

void BM_ScannerAndReader(benchmark::State& st, const char* name) {
  int64_t size = 0, caracters = 0;
  const std::string path = Corpus(name);
  auto e = std::make_unique<Scanner>();
  auto l = std::make_unique<Reader>();
  for (auto _ : st) {
    int fd = Open(st, path, size);
    if (fd < 0) return;
    InitScanner(*e, FromDescriptor(fd));
    InitReader(*l, e.get());
    RingIndex k;
    int c;
    while ((c = NextCharacterAsBlank(*l, k)) != kEndOfInput) {
      benchmark::DoNotOptimize(c);
      benchmark::DoNotOptimize(k);
      ++caracters;
      // The emission writes each waiting superblank out; drop them so the
      // queue stays as short as in a real run.
      if (!l->pending_superblanks.empty()) l->pending_superblanks.pop_front();
    }
    close(fd);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * size);
  st.counters["caracters"] =
      benchmark::Counter(double(caracters), benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_Scanner, ca, "ca.txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScannerAndReader, ca, "ca.txt")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScannerAndReader, ca_sb, "ca-sb.txt")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace etiquem

BENCHMARK_MAIN();
