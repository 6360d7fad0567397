// A whole analysis run inside the test process; see analysis_helper.h.

#include "analysis_helper.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "engine/analysis.h"
#include "engine/output_buffer.h"
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

std::string ReadAndClose(int fd) {
  std::string r;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) r.append(buf, size_t(n));
  close(fd);
  return r;
}

}  // namespace

Outputs AnalyseInProcess(const Automaton& t, const std::string& text, int s,
                         int a, int m, bool memory, size_t max_nodes,
                         size_t block) {
  OutputBuffer output;
  output.fd = MemoryFile("");
  OutputBuffer unknown;
  unknown.fd = MemoryFile("");
  const int input = MemoryFile(text);
  auto e = std::make_unique<Scanner>();
  InitScanner(*e, input, block);
  e->flush_before_read = &output;
  auto l = std::make_unique<Reader>();
  InitReader(*l, e.get());
  auto analysis = std::make_unique<Analysis>();
  analysis->memory.max_nodes = max_nodes;
  analysis->memory.max_text_bytes = max_nodes * 8;
  InitAnalysis(*analysis, &t, l.get(), &output, &unknown);
  analysis->use_memory = memory;
  RunAnalysis(*analysis, s, 1, a, m);
  Flush(output);
  Flush(unknown);
  close(input);
  return {ReadAndClose(output.fd), ReadAndClose(unknown.fd)};
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
  OutputBuffer output;
  output.fd = MemoryFile("");
  OutputBuffer unknown;
  unknown.fd = MemoryFile("");
  const int input = MemoryFile(before + text);
  lseek(input, off_t(before.size()), SEEK_SET);
  EXPECT_TRUE(AnalyseInPieces(&t, input, int64_t(before.size()), text.size(),
                              AnalysisOptions{s, 1, a, m}, p, output,
                              &unknown));
  EXPECT_EQ(lseek(input, 0, SEEK_CUR), off_t(before.size() + text.size()))
      << "the input is left read to its end";
  Flush(output);
  Flush(unknown);
  close(input);
  return {ReadAndClose(output.fd), ReadAndClose(unknown.fd)};
}

void LoadOrFail(Automaton& t, const std::string& bytes) {
  std::string error;
  ASSERT_TRUE(LoadAutomatonFromBytes(
      t, "prova", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
      error))
      << error;
}

}  // namespace etiquem::test_support
