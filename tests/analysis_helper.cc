// A whole analysis run inside the test process; see analysis_helper.h.

#include "analysis_helper.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>

#include "engine/analysis.h"
#include "engine/pieces.h"
#include "engine/reader.h"
#include "engine/scanner.h"

namespace etiquem::test_support {

namespace {

int MemoryFile(const std::string& rendered) {
  const int fd = memfd_create("etiquem-prova", 0);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, rendered.data(), rendered.size()),
            ssize_t(rendered.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

// The sink of the runs here: both outputs into strings.
bool Collect(void* context, const Batch& batch) {
  Outputs& outputs = *static_cast<Outputs*>(context);
  outputs.text.append(batch.output);
  outputs.unknown_output.append(batch.unknown_words);
  return true;
}

Outputs AnalyseInProcess(const Automaton& t, const std::string& text, int s,
                         int a, int m, bool memory, size_t max_nodes,
                         size_t block) {
  Outputs outputs;
  const int input = MemoryFile(text);
  auto analyser = std::make_unique<Analyser>();
  analyser->memory.max_nodes = max_nodes;
  analyser->memory.max_text_bytes = max_nodes * 8;
  Options options;
  options.surface_forms = s == 1;
  options.apostrophe_blank = a == 1;
  options.mark_unknown = m == 1;
  options.unknown_words = true;
  Input in;
  in.fd = input;
  StartAnalysis(*analyser, &t, options, in, Collect, &outputs);
  analyser->scanner.block.resize(std::max<size_t>(block, 18));
  analyser->use_memory = memory;
  AdvanceAnalysis(*analyser, UINT64_MAX);
  outputs.error = analyser->error;
  close(input);
  return outputs;
}

// A random dictionary over a few letters: consuming moves go forward (or
// loop on one state with a single move), so paths stay few; epsilon moves
// go forward only; markers of the three kinds; two tags.
std::string RandomDictionary(std::mt19937& g) {
  const std::string letters = "abAB' -";
  const int n = 6 + int(g() % 10);
  std::string d = "alfabet 'ABab-\ndefine n 258\ndefine v 259\n";
  for (int e = 0; e < n; ++e) {
    d += "estat " + std::to_string(e) + "\n";
    if (g() % 6 == 0) d += "  fi\n";
    if (g() % 9 == 0) d += "  parcial\n";
    if (g() % 9 == 0) d += "  descon\n";
    for (char c : letters) {
      if (g() % 3 != 0) continue;
      int moves = 1 + int(g() % 2);
      for (int i = 0; i < moves; ++i) {
        int target = e + 1 + int(g() % 3);
        if (target >= n) target = e;  // a loop on this state
        if (target == e && i > 0) continue;
        std::string input_symbol = c == ' ' ? "\\s" : std::string(1, c);
        const char* output_symbol =
            g() % 4 == 0 ? "-" : (g() % 2 ? "x" : "\\xe9");
        d += "  " + input_symbol + " " + output_symbol + " " +
             std::to_string(target) + "\n";
      }
    }
    if (e > 0 && g() % 4 == 0 && e + 1 < n) {
      d += "  eps " + std::string(g() % 2 ? "&n" : "&v") + " " +
           std::to_string(e + 1) + "\n";
    }
  }
  return d;
}

std::string RandomText(std::mt19937& g, size_t length) {
  const std::string pieces[] = {"a",         "b",
                                "A",         "B",
                                "'",         " ",
                                "-",         "\n",
                                "ab",        "ba",
                                "aab",       "Ab ",
                                "\x01",      std::string(1, '\0'),
                                "\xff",      "<![CDATA[x]]>",
                                "<![CDATA[", "]]>"};
  std::string t;
  while (t.size() < length) t += pieces[g() % (sizeof pieces / sizeof *pieces)];
  return t;
}

Outputs AnalyseInPiecesInProcess(const Automaton& t, const std::string& text,
                                 int s, int a, int m, const PieceParameters& p,
                                 const std::string& before) {
  Outputs outputs;
  const int input = MemoryFile(before + text);
  lseek(input, off_t(before.size()), SEEK_SET);
  Options options;
  options.surface_forms = s == 1;
  options.apostrophe_blank = a == 1;
  options.mark_unknown = m == 1;
  options.unknown_words = true;
  bool started = false;
  AnalyseInPieces(&t, options, input, int64_t(before.size()), text.size(), p,
                  Collect, &outputs, &outputs.error, &started);
  EXPECT_TRUE(started);
  EXPECT_EQ(lseek(input, 0, SEEK_CUR), off_t(before.size() + text.size()))
      << "the input is left read to its end";
  close(input);
  return outputs;
}

void LoadOrFail(Automaton& t, const std::string& bytes) {
  std::string error;
  ASSERT_TRUE(LoadAutomatonFromBytes(
      t, "prova", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
      error))
      << error;
}

}  // namespace etiquem::test_support
