// A whole analysis run inside the test process; see analysis_helper.h.

#include "analysis_helper.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <sstream>

#include "engine/analysis.h"
#include "engine/pieces.h"
#include "engine/reader.h"
#include "engine/scanner.h"
#include "engine/utf8.h"

namespace etiquem::test_support {

namespace {

int MemoryFile(const std::string& rendered) {
  const int fd = memfd_create("etiquem-test", 0);
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
                         int a, int m, bool memory, size_t max_entries,
                         size_t block, bool utf8, size_t dfa_budget) {
  Outputs outputs;
  const int input = MemoryFile(text);
  auto analyser = std::make_unique<Analyser>();
  analyser->memory.max_entries = max_entries;
  analyser->memory.max_text_bytes = max_entries * 8;
  analyser->dfa.budget_bytes = dfa_budget;
  Options options;
  options.surface_forms = s == 1;
  options.apostrophe_blank = a == 1;
  options.mark_unknown = m == 1;
  options.unknown_words = true;
  options.utf8 = utf8;
  Input in;
  in.fd = input;
  StartAnalysis(*analyser, &t, options, in, Collect, &outputs);
  analyser->scanner.block.resize(std::max<size_t>(block, 18));
  analyser->use_dfa = analyser->use_dfa && memory;
  AdvanceAnalysis(*analyser, UINT64_MAX);
  outputs.error = analyser->error;
  const InvalidUtf8Count& invalid = InvalidUtf8Met(*analyser);
  outputs.report = InputReport{invalid.count, invalid.first_offset};
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

Step AnalyseFileInPieces(const Automaton& t, const std::string& text,
                         const Options& options, const PieceParameters& p,
                         BatchSink sink, void* context, Error* error,
                         InputReport* report, const std::string& before) {
  const int input = MemoryFile(before + text);
  lseek(input, off_t(before.size()), SEEK_SET);
  bool started = false;
  const Step step = AnalyseInPieces(&t, options, input, int64_t(before.size()),
                                    text.size(), p, sink, context, error,
                                    &started, report);
  EXPECT_TRUE(started);
  EXPECT_EQ(lseek(input, 0, SEEK_CUR), off_t(before.size() + text.size()))
      << "the input is left read to its end";
  close(input);
  return step;
}

Outputs AnalyseInPiecesInProcess(const Automaton& t, const std::string& text,
                                 int s, int a, int m, const PieceParameters& p,
                                 const std::string& before, bool utf8) {
  Outputs outputs;
  Options options;
  options.surface_forms = s == 1;
  options.apostrophe_blank = a == 1;
  options.mark_unknown = m == 1;
  options.unknown_words = true;
  options.utf8 = utf8;
  AnalyseFileInPieces(t, text, options, p, Collect, &outputs, &outputs.error,
                      &outputs.report, before);
  return outputs;
}

PieceParameters RandomPieceParameters(std::mt19937& g) {
  PieceParameters p;
  p.piece_bytes = 1 + g() % 48;
  p.window_bytes = 1 + g() % (p.piece_bytes + 16);
  p.threads = 1 + int(g() % 4);  // one worker takes every piece over in turn
  p.pieces_ahead = 2 + g() % 3;
  // Small bounds make runs hand their output over as they go, or wait.
  if (g() % 2 == 0) {
    p.held_bytes = 1 + g() % 64;
    p.batch_bytes = 1 + g() % 64;
  }
  return p;
}

std::string Utf8Of(const std::string& latin1) {
  std::string utf8;
  for (char c : latin1) {
    const unsigned u = uint8_t(c);
    if (u < 0x80) {
      utf8 += c;
    } else {
      utf8 += char(0xC0 + u / 64);
      utf8 += char(0x80 + u % 64);
    }
  }
  return utf8;
}

std::string RandomLatin1Dictionary(std::mt19937& g) {
  std::istringstream in(RandomDictionary(g));
  std::string line, d;
  while (std::getline(in, line)) {
    if (line.rfind("alfabet ", 0) == 0)
      line = "alfabet 'A\xc9" "a\xe9-";
    else if (line.rfind("  b ", 0) == 0)
      line = "  \xe9 " + line.substr(4);
    else if (line.rfind("  B ", 0) == 0)
      line = "  \xc9 " + line.substr(4);
    d += line + "\n";
  }
  return d;
}

std::string RandomLatin1Text(std::mt19937& g, size_t length) {
  std::string t = RandomText(g, length);
  for (char& c : t) {
    if (c == 'b') c = '\xe9';
    if (c == 'B') c = '\xc9';
  }
  const char kOthers[] = "\x80\x9f\xa0\xb7\xff";
  for (size_t i = 0; i < t.size() / 16; ++i)
    t.insert(g() % (t.size() + 1), 1, kOthers[g() % 5]);
  return t;
}

std::string RandomUtf8Text(std::mt19937& g, size_t length) {
  const std::string text = Utf8Of(RandomLatin1Text(g, length));
  const std::string kInserts[] = {
      "\xe2\x80\x99",      // U+2019
      "\xca\xbc",          // U+02BC
      "\xe2\x82\xac",      // U+20AC
      "\xf0\x9f\x98\x80",  // U+1F600
      "\x80",              // a stray continuation byte
      "\xbf\xbf",          // two
      "\xc3",              // a lead cut short
      "\xe2\x80",          // a three-byte sequence cut short
      "\xf0\x9f\x98",      // a four-byte one
      "\xc0\xaf",          // overlong
      "\xe0\x80\xaf",      // overlong
      "\xed\xa0\x80",      // a surrogate
      "\xf4\x90\x80\x80",  // past U+10FFFF
      "\xfe\xff",          // never in UTF-8
  };
  std::string t;
  for (char c : text) {
    if (uint8_t(c) < 0x80 && g() % 12 == 0)
      t += kInserts[g() % (sizeof kInserts / sizeof *kInserts)];
    t += c;
  }
  return t;
}

std::vector<ReferenceUnit> ReferenceUtf8Units(const std::string& bytes) {
  // Well-formed sequences: a lead range, then a range for each following
  // byte.
  struct Row {
    int lead_low, lead_high;
    int next[3][2];
    int count;
  };
  static const Row kRows[] = {
      {0xC2, 0xDF, {{0x80, 0xBF}}, 1},
      {0xE0, 0xE0, {{0xA0, 0xBF}, {0x80, 0xBF}}, 2},
      {0xE1, 0xEC, {{0x80, 0xBF}, {0x80, 0xBF}}, 2},
      {0xED, 0xED, {{0x80, 0x9F}, {0x80, 0xBF}}, 2},
      {0xEE, 0xEF, {{0x80, 0xBF}, {0x80, 0xBF}}, 2},
      {0xF0, 0xF0, {{0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}, 3},
      {0xF1, 0xF3, {{0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}, 3},
      {0xF4, 0xF4, {{0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}}, 3},
  };
  std::vector<ReferenceUnit> units;
  size_t i = 0;
  while (i < bytes.size()) {
    const int b = uint8_t(bytes[i]);
    ReferenceUnit unit{i, 1, b < 0x80};
    for (const Row& row : kRows) {
      if (b < row.lead_low || b > row.lead_high) continue;
      int k = 0;
      while (k < row.count && i + 1 + size_t(k) < bytes.size() &&
             uint8_t(bytes[i + 1 + k]) >= row.next[k][0] &&
             uint8_t(bytes[i + 1 + k]) <= row.next[k][1])
        ++k;
      unit.length = size_t(1 + k);
      unit.valid = k == row.count;
    }
    units.push_back(unit);
    i += unit.length;
  }
  return units;
}

void LoadOrFail(Automaton& t, const std::string& bytes) {
  std::string error;
  ASSERT_TRUE(LoadAutomatonFromBytes(
      t, "test", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
      error))
      << error;
}

}  // namespace etiquem::test_support
