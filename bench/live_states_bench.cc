// Microbenchmark of the matcher alone: the live-state set stepped over the
// words of a real text with a real dictionary (step, epsilon closure and
// acceptance recording for every character, no input or output), so its
// speed can be followed apart from the rest of the program. Skipped when the
// shared text or dictionary is absent.

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/acceptance.h"
#include "engine/automaton.h"
#include "engine/live_states.h"
#include "engine/reader.h"

namespace etiquem {
namespace {

std::vector<std::string> Words(size_t maximum) {
  std::ifstream f(ETIQUEM_SHARED "/corpus/ca.txt", std::ios::binary);
  std::vector<std::string> words;
  std::string p;
  size_t read_count = 0;
  char c;
  while (read_count < maximum && f.get(c)) {
    ++read_count;
    if (c == ' ' || c == '\n' || c == '\t') {
      if (!p.empty()) words.push_back(p);
      p.clear();
    } else {
      p += c;
    }
  }
  return words;
}

void BM_LiveStatesStep(benchmark::State& state) {
  auto t = std::make_unique<Automaton>();
  std::string error;
  int output = 0;
  if (!LoadAutomatonFile(*t, ETIQUEM_SHARED "/lexicon/ca.bin", error, output)) {
    state.SkipWithError("../shared/lexicon/ca.bin absent");
    return;
  }
  const std::vector<std::string> words = Words(size_t(4) << 20);
  if (words.empty()) {
    state.SkipWithError("../shared/corpus/ca.txt absent");
    return;
  }
  LiveStates v;
  InitLiveStates(v, t.get());
  Acceptances acceptances;
  StepRecord input;
  int64_t caracters = 0;
  for (auto _ : state) {
    for (const std::string& p : words) {
      StartAtInitialState(v);
      ClearAcceptances(acceptances);
      int a = 0;
      for (size_t i = 0; i < p.size() && !v.states.empty(); ++i) {
        const int c = uint8_t(p[i]);
        const int b = StepLiveStates(v, c);
        if (i == 0) a = b;
        CloseOverEpsilons(v);
        RecordAcceptances(acceptances, v, std::string_view(p.data(), i + 1), a,
                          b, input, 0, 0);
        ++caracters;
      }
      benchmark::DoNotOptimize(input.acceptance);
    }
  }
  state.counters["chars/s"] =
      benchmark::Counter(double(caracters), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiveStatesStep)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace etiquem

BENCHMARK_MAIN();
