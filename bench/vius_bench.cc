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

#include "automaton/automat.h"
#include "input/lector.h"
#include "matching/accepta.h"
#include "matching/vius.h"

namespace etiquem {
namespace {

std::vector<std::string> Paraules(size_t maxim) {
  std::ifstream f(ETIQUEM_SHARED "/corpus/ca.txt", std::ios::binary);
  std::vector<std::string> paraules;
  std::string p;
  size_t llegits = 0;
  char c;
  while (llegits < maxim && f.get(c)) {
    ++llegits;
    if (c == ' ' || c == '\n' || c == '\t') {
      if (!p.empty()) paraules.push_back(p);
      p.clear();
    } else {
      p += c;
    }
  }
  return paraules;
}

void BM_PasVius(benchmark::State& estat) {
  auto t = std::make_unique<Transductor>();
  std::string error;
  int sortida = 0;
  if (!Genauto(*t, ETIQUEM_SHARED "/lexicon/ca.bin", error, sortida)) {
    estat.SkipWithError("../shared/lexicon/ca.bin absent");
    return;
  }
  const std::vector<std::string> paraules = Paraules(size_t(4) << 20);
  if (paraules.empty()) {
    estat.SkipWithError("../shared/corpus/ca.txt absent");
    return;
  }
  Vius v;
  IniciaVius(v, t.get());
  Acceptacio ac;
  PosBuffer entrada;
  int64_t caracters = 0;
  for (auto _ : estat) {
    for (const std::string& p : paraules) {
      Inicialitzacio(v);
      IniciaAcceptacio(ac);
      int a = 0;
      for (size_t i = 0; i < p.size() && !v.vius.empty(); ++i) {
        const int c = uint8_t(p[i]);
        const int b = ComprobarEstatsVius(v, c);
        if (i == 0) a = b;
        ComprobarEstatsNous(v);
        CercarEstAccept(ac, v, std::string_view(p.data(), i + 1), a, b,
                        entrada, 0, 0);
        ++caracters;
      }
      benchmark::DoNotOptimize(entrada.estat);
    }
  }
  estat.counters["chars/s"] =
      benchmark::Counter(double(caracters), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PasVius)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace etiquem

BENCHMARK_MAIN();
