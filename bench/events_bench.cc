// What describing the output costs: one thread over a text in memory,
// written plainly, then with events (Options::events) with and without the
// deterministic walk and its memory of stretches, the sink taking every batch
// and doing nothing else.
// Prints the best of N runs of each, in CPU seconds and MB/s.
//
//   build/bench/events_bench ../shared/lexicon/ca.bin ../shared/corpus/ca.txt [N]

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "engine/analysis.h"
#include "etiquem/etiquem.h"

namespace etiquem {
namespace {

struct Counts {
  uint64_t bytes = 0;
  uint64_t events = 0;
};

bool Count(void* context, const Batch& batch) {
  Counts& c = *static_cast<Counts*>(context);
  c.bytes += batch.output.size();
  c.events += batch.events.size();
  return true;
}

// CPU time of this thread: steadier than the wall clock on a shared machine.
double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Seconds(const Dictionary& d, const std::string& text, bool events,
               bool memory, Counts& counts) {
  auto analyser = std::make_unique<Analyser>();
  Options options;
  options.events = events;
  Input input;
  input.bytes = text;
  counts = Counts{};
  const double start = CpuSeconds();
  StartAnalysis(*analyser, &d.automaton(), options, input, Count, &counts);
  analyser->use_dfa = memory;
  AdvanceAnalysis(*analyser, UINT64_MAX);
  return CpuSeconds() - start;
}

int Main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: events_bench DICTIONARY TEXT [RUNS]\n");
    return 1;
  }
  Error error;
  auto dictionary = Dictionary::Load(argv[1], &error);
  if (!dictionary) {
    std::fputs(error.message.c_str(), stderr);
    return error.status;
  }
  std::ifstream file(argv[2], std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  struct Case {
    const char* name;
    bool events, memory;
  } cases[] = {{"plain", false, true},
               {"events, memory", true, true},
               {"events, no memory", true, false}};
  for (const Case& c : cases) {
    double best = 1e9;
    Counts counts;
    for (int i = 0; i < runs; ++i)
      best = std::min(best, Seconds(*dictionary, text, c.events, c.memory,
                                    counts));
    std::printf("%-20s %.3f s  %6.1f MB/s  %llu bytes out, %llu events\n",
                c.name, best, text.size() / best / 1e6,
                (unsigned long long)counts.bytes,
                (unsigned long long)counts.events);
  }
  return 0;
}

}  // namespace
}  // namespace etiquem

int main(int argc, char** argv) { return etiquem::Main(argc, argv); }
