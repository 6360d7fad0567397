// The description of what an analysis writes (Options::events) against the
// bytes it writes. Asking for it never changes the bytes; with or without
// the deterministic walk and the memory of stretches it is the same, field
// for field; its pieces tile the output and the input, their surfaces are
// the input's bytes, and the
// reading parts of each piece, rendered, give back the piece's written
// bytes. Run on generated dictionaries and texts (superblanks, case, every
// option, batches cut small, files analysed in pieces on several threads)
// and on the Catalan corpus when it is present.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis_helper.h"
#include "automaton_builder.h"
#include "engine/analysis.h"
#include "engine/reading_text.h"

namespace etiquem {
namespace {

using test_support::LoadOrFail;
using test_support::RandomDictionary;
using test_support::RandomText;

// One piece as a batch described it, in absolute terms.
struct Piece {
  PieceKind kind;
  uint64_t input_begin, input_end;
  uint64_t output_begin;  // from the start of the output
  std::string written;
  std::string surface;
  std::vector<ReadingPart> parts;  // first_symbol indexes `symbols`
  std::vector<int32_t> symbols;

  bool operator==(const Piece& o) const {
    if (parts.size() != o.parts.size()) return false;
    for (size_t i = 0; i < parts.size(); ++i) {
      const ReadingPart &a = parts[i], &b = o.parts[i];
      if (a.first_symbol != b.first_symbol ||
          a.symbol_count != b.symbol_count || a.piece != b.piece ||
          a.first_upper != b.first_upper || a.latest_upper != b.latest_upper)
        return false;
    }
    return kind == o.kind && input_begin == o.input_begin &&
           input_end == o.input_end && output_begin == o.output_begin &&
           written == o.written && surface == o.surface &&
           symbols == o.symbols;
  }
};

// Where two lists of pieces first differ, for the failure message.
std::string FirstDifference(const std::vector<struct Piece>& a,
                            const std::vector<struct Piece>& b);

struct Written {
  std::string text;
  std::string unknown_words;
  std::vector<Piece> pieces;
  size_t batches = 0;
};

std::string Describe(const Piece& p) {
  std::ostringstream d;
  d << "kind " << int(p.kind) << " input " << p.input_begin << ".."
    << p.input_end << " output " << p.output_begin << " written '"
    << p.written << "' surface '" << p.surface << "' parts";
  for (const ReadingPart& r : p.parts)
    d << " [" << r.first_symbol << "+" << r.symbol_count
      << (r.piece ? " piece" : "") << (r.first_upper ? " A" : "")
      << (r.latest_upper ? " B" : "") << "]";
  d << " symbols";
  for (int32_t x : p.symbols) d << " " << x;
  return d.str();
}

std::string FirstDifference(const std::vector<Piece>& a,
                            const std::vector<Piece>& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (!(a[i] == b[i]))
      return "piece " + std::to_string(i) + ":\n  " + Describe(a[i]) +
             "\n  " + Describe(b[i]);
  return "counts " + std::to_string(a.size()) + " and " +
         std::to_string(b.size());
}

bool CollectPieces(void* context, const Batch& batch) {
  Written& run = *static_cast<Written*>(context);
  EXPECT_EQ(batch.output_offset, run.text.size());
  run.text.append(batch.output);
  run.unknown_words.append(batch.unknown_words);
  ++run.batches;
  for (const Event& e : batch.events) {
    Piece p{e.kind, e.input_begin, e.input_end,
            batch.output_offset + e.output_begin,
            std::string(batch.output.substr(e.output_begin,
                                            e.output_end - e.output_begin)),
            std::string(batch.surfaces.substr(
                e.surface_begin, e.surface_end - e.surface_begin)),
            {}, {}};
    for (uint32_t i = 0; i < e.part_count; ++i) {
      ReadingPart part = batch.parts[e.first_part + i];
      const int32_t* s = batch.symbols.data() + part.first_symbol;
      part.first_symbol = uint32_t(p.symbols.size());
      p.symbols.insert(p.symbols.end(), s, s + part.symbol_count);
      p.parts.push_back(part);
    }
    run.pieces.push_back(std::move(p));
  }
  return true;
}

// The bytes of everything a batch points at, to compare it with itself
// later.
std::string BytesOf(const Batch& b) {
  std::string bytes;
  auto add = [&bytes](const void* data, size_t size) {
    bytes.append(static_cast<const char*>(data), size);
    bytes.push_back('|');
  };
  add(b.output.data(), b.output.size());
  add(b.unknown_words.data(), b.unknown_words.size());
  add(b.events.data(), b.events.size_bytes());
  add(b.parts.data(), b.parts.size_bytes());
  add(b.symbols.data(), b.symbols.size_bytes());
  add(b.surfaces.data(), b.surfaces.size());
  return bytes;
}

// Collects as CollectPieces does, and checks that a lasting batch is left
// as it was until the sink's next call: when it comes, what the batch
// points at is compared with a copy taken before.
struct LastingCheck {
  Written* run = nullptr;
  Batch previous;
  std::string previous_bytes;
  size_t lasting = 0;  // batches that were lasting
};

bool CheckLastingAndCollect(void* context, const Batch& batch) {
  LastingCheck& c = *static_cast<LastingCheck*>(context);
  if (c.previous.lasting) {
    EXPECT_TRUE(BytesOf(c.previous) == c.previous_bytes)
        << "a lasting batch changed before the next call returned";
  }
  c.previous = batch;
  c.previous_bytes = BytesOf(batch);
  c.lasting += batch.lasting;
  return CollectPieces(c.run, batch);
}

Written Analyse(const Automaton& t, const std::string& text, Options options,
            bool memory, size_t max_nodes = size_t(1) << 17,
            size_t threshold = size_t(1) << 20) {
  Written run;
  LastingCheck check;
  check.run = &run;
  options.unknown_words = true;
  auto analyser = std::make_unique<Analyser>();
  analyser->memory.max_entries = max_nodes;
  analyser->memory.max_text_bytes = max_nodes * 8;
  analyser->memory.max_parts = max_nodes;
  analyser->memory.max_symbols = max_nodes * 8;
  if (max_nodes < 64) analyser->dfa.budget_bytes = 4096;
  Input input;
  input.bytes = text;
  StartAnalysis(*analyser, &t, options, input, CheckLastingAndCollect,
                &check);
  analyser->use_dfa = analyser->use_dfa && memory;
  analyser->output.threshold = threshold;
  const Step step = AdvanceAnalysis(*analyser, UINT64_MAX);
  EXPECT_EQ(step.reached, Reached::kEnd) << analyser->error.message;
  if (options.keep_previous_batch) {
    // Nothing is kept once the analysis has ended.
    EXPECT_FALSE(check.previous.lasting);
  } else {
    EXPECT_EQ(check.lasting, 0u);
  }
  return run;
}

// A surface as the analysis stepped it: each superblank as one blank.
std::string SteppedForm(const std::string& surface) {
  std::string form;
  for (size_t i = 0; i < surface.size();) {
    if (surface.compare(i, 9, "<![CDATA[") == 0) {
      const size_t close = surface.find("]]>", i + 9);
      i = close == std::string::npos ? surface.size() : close + 3;
      form.push_back(' ');
    } else {
      form.push_back(surface[i++]);
    }
  }
  return form;
}

// The written bytes of a reading piece, from its parts alone, as the
// program writes an analysis: complete readings end in "/", two or more
// pieces of a compound reading are wrapped in <amb><e>...</e></amb>.
std::string RenderParts(const Automaton& t, const Piece& p,
                        const Options& options) {
  std::string text;
  const std::string form = SteppedForm(p.surface);
  if (options.surface_forms) text += form + "/";
  int pieces = 0;
  for (const ReadingPart& part : p.parts) pieces += part.piece;
  if (pieces >= 2) text += "<amb><e>";
  int piece = 0;
  bool complete = false;
  for (size_t i = 0; i < p.parts.size(); ++i) {
    const ReadingPart& part = p.parts[i];
    const int32_t* s = p.symbols.data() + part.first_symbol;
    const int n = int(part.symbol_count);
    if (!part.piece) {
      complete = true;
      RenderCompleteReading(t, s, n, part.first_upper, part.latest_upper, text);
      continue;
    }
    ++piece;
    int capital_pending = 1;
    if (piece == 1 && i == 0) {
      RenderPieceReading(t, s, n, part.first_upper, part.latest_upper,
                         capital_pending, text);
      continue;
    }
    text += piece == 2 ? "</e><e>" : "<e>";
    RenderPieceReading(t, s, n, part.first_upper, part.latest_upper,
                       capital_pending, text);
    text += "</e>";
  }
  if (pieces >= 2) text += "</amb>";
  if (options.apostrophe_blank && complete && HasApostrophe(form))
    text.push_back(' ');
  return text;
}

// What must hold of the pieces of one run over `input`.
void CheckPieces(const Automaton& t, const std::string& input, const Written& run,
                 const Options& options) {
  uint64_t output_at = 0;
  uint64_t input_at = 0;
  uint64_t stretch_end = 0;  // end of the latest stretch that is not a
                             // superblank: superblanks inside it follow it
  for (const Piece& p : run.pieces) {
    ASSERT_EQ(p.output_begin, output_at);
    output_at += p.written.size();
    ASSERT_LE(p.input_begin, p.input_end);
    ASSERT_LE(p.input_end, input.size());
    const std::string in = input.substr(p.input_begin, p.input_end - p.input_begin);
    if (p.kind == PieceKind::kSuperblank) {
      // As it came; one that the input ends in gets its closer.
      if (p.input_end == input.size() && p.written != in)
        ASSERT_EQ(p.written, in + "]]>");
      else
        ASSERT_EQ(p.written, in);
      ASSERT_TRUE(p.parts.empty());
      if (p.input_end <= stretch_end) continue;  // inside the stretch before
    }
    ASSERT_EQ(p.input_begin, input_at);
    input_at = p.input_end;
    switch (p.kind) {
      case PieceKind::kSuperblank:
        break;
      case PieceKind::kCharacter:
        ASSERT_EQ(p.written, in);
        ASSERT_TRUE(p.parts.empty());
        break;
      case PieceKind::kUnknownWord:
        stretch_end = p.input_end;
        ASSERT_EQ(p.surface, in);
        ASSERT_TRUE(p.parts.empty());
        break;
      case PieceKind::kReading:
        stretch_end = p.input_end;
        ASSERT_EQ(p.surface, in);
        ASSERT_FALSE(p.parts.empty());
        ASSERT_EQ(RenderParts(t, p, options), p.written)
            << "surface " << p.surface;
        break;
    }
  }
  EXPECT_EQ(output_at, run.text.size());
  EXPECT_EQ(input_at, input.size());
}

Options MakeOptions(int s, int a, int m, bool events) {
  Options options;
  options.surface_forms = s == 1;
  options.apostrophe_blank = a == 1;
  options.mark_unknown = m == 1;
  options.events = events;
  return options;
}

TEST(Events, SameBytesAndSamePiecesWithOrWithoutTheMemory) {
  std::mt19937 g(20261219);
  int readings = 0, compounds = 0, unknown = 0, superblanks = 0;
  for (int test_case = 0; test_case < 150; ++test_case) {
    const std::string description = RandomDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    const std::string text = RandomText(g, 200 + g() % 3000);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    const Written plain = Analyse(t, text, MakeOptions(s, a, m, false), true);
    const Options options = MakeOptions(s, a, m, true);
    const Written walked = Analyse(t, text, options, false);
    const Written remembered = Analyse(t, text, options, true);
    // A memory that empties itself all the time, and batches of a few bytes,
    // each left as it was until the next is handed over.
    Options lasting = options;
    lasting.keep_previous_batch = test_case % 2 == 0;
    const Written small = Analyse(t, text, lasting, true, 8, 16);
    // A memory that keeps everything, over batches of a few words: a
    // stretch written again points at its parts only within one batch.
    const Written batched = Analyse(t, text, lasting, true, size_t(1) << 17,
                                    64 + g() % 256);
    ASSERT_EQ(plain.text, walked.text) << description;
    ASSERT_EQ(plain.unknown_words, walked.unknown_words);
    ASSERT_EQ(plain.text, remembered.text) << description;
    ASSERT_EQ(plain.text, small.text) << description;
    ASSERT_EQ(plain.unknown_words, small.unknown_words);
    ASSERT_TRUE(walked.pieces == remembered.pieces)
        << FirstDifference(walked.pieces, remembered.pieces) << description;
    ASSERT_TRUE(walked.pieces == small.pieces)
        << FirstDifference(walked.pieces, small.pieces) << description;
    ASSERT_TRUE(walked.pieces == batched.pieces)
        << FirstDifference(walked.pieces, batched.pieces) << description;
    CheckPieces(t, text, walked, options);
    if (HasFatalFailure()) {
      ADD_FAILURE() << description << "\ntext: " << text;
      return;
    }
    for (const Piece& p : walked.pieces) {
      readings += p.kind == PieceKind::kReading;
      unknown += p.kind == PieceKind::kUnknownWord;
      superblanks += p.kind == PieceKind::kSuperblank;
      compounds += std::any_of(p.parts.begin(), p.parts.end(),
                               [](const ReadingPart& r) { return r.piece; });
    }
  }
  // The generated cases exercise every kind of piece.
  EXPECT_GT(readings, 1000);
  EXPECT_GT(compounds, 50);
  EXPECT_GT(unknown, 100);
  EXPECT_GT(superblanks, 100);
}

// A file analysed in pieces on several threads describes the same pieces
// as one thread does, field for field, whatever the pieces' size, where the
// runs join and how the output is cut into batches; in Latin-1 and in
// UTF-8 (piece starts inside characters).
TEST(Events, TheSamePiecesFromAFileInPieces) {
  std::mt19937 g(20261207);
  for (int test_case = 0; test_case < 120; ++test_case) {
    const bool utf8 = test_case % 2 == 1;
    const std::string description = utf8
        ? test_support::RandomLatin1Dictionary(g) : RandomDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    const size_t length = 100 + g() % 2000;
    const std::string text = utf8 ? test_support::RandomUtf8Text(g, length)
                                  : RandomText(g, length);
    Options options = MakeOptions(int(g() % 2), int(g() % 2), int(g() % 2),
                                  true);
    options.utf8 = utf8;
    const Written one = Analyse(t, text, options, true);
    // The full walk describes the same pieces, blanks written on the
    // deterministic walk's shortcut included.
    const Written walked = Analyse(t, text, options, false);
    ASSERT_TRUE(one.pieces == walked.pieces)
        << FirstDifference(one.pieces, walked.pieces) << description;
    options.unknown_words = true;
    for (int run = 0; run < 3; ++run) {
      const PieceParameters p = test_support::RandomPieceParameters(g);
      Written pieces;
      Error error;
      const Step step = test_support::AnalyseFileInPieces(
          t, text, options, p, CollectPieces, &pieces, &error, nullptr);
      ASSERT_EQ(step.reached, Reached::kEnd) << error.message;
      ASSERT_EQ(one.text, pieces.text) << description;
      ASSERT_EQ(one.unknown_words, pieces.unknown_words);
      ASSERT_TRUE(one.pieces == pieces.pieces)
          << FirstDifference(one.pieces, pieces.pieces) << "\npieces of "
          << p.piece_bytes << ", window " << p.window_bytes << ", "
          << p.threads << " workers\n" << description;
    }
  }
}

TEST(Events, AStretchOverASuperblankHasItInItsSurface) {
  Automaton t;
  LoadOrFail(t, test_support::Bytes("alfabet ab\ndefine n 258\nestat 0\n"
                                    "  a a 1\nestat 1\n  \\s \\s 2\n"
                                    "estat 2\n  b b 3\nestat 3\n"
                                    "  eps &n 4\nestat 4\n  fi\n"));
  const std::string text = "a<![CDATA[<i>]]>b a b";
  const Options options = MakeOptions(0, 0, 0, true);
  const Written run = Analyse(t, text, options, true);
  EXPECT_EQ(run.text, "a b&n;/<![CDATA[<i>]]> a b&n;/");
  ASSERT_EQ(run.pieces.size(), 4u);
  EXPECT_EQ(run.pieces[0].surface, "a<![CDATA[<i>]]>b");
  EXPECT_EQ(run.pieces[1].kind, PieceKind::kSuperblank);
  EXPECT_EQ(run.pieces[3].surface, "a b");
  CheckPieces(t, text, run, options);
}

// The Catalan dictionary on its corpus: a long run where most attempts are
// answered by the memory, which empties itself when full.
TEST(Events, CatalanCorpus) {
  const std::string shared = ETIQUEM_SHARED;
  std::ifstream corpus(shared + "/corpus/ca.txt", std::ios::binary);
  std::ifstream sb(shared + "/corpus/ca-sb.txt", std::ios::binary);
  std::ifstream lexicon(shared + "/lexicon/ca.bin", std::ios::binary);
  if (!corpus || !lexicon || !sb) GTEST_SKIP() << "no corpus under " << shared;
  std::string text(size_t(1) << 18, '\0');
  corpus.read(text.data(), std::streamsize(text.size()));
  text.resize(size_t(corpus.gcount()));
  std::stringstream sb_text;
  sb_text << sb.rdbuf();
  text += sb_text.str().substr(0, size_t(1) << 17);
  std::stringstream bytes;
  bytes << lexicon.rdbuf();
  Automaton t;
  LoadOrFail(t, bytes.str());
  for (int s = 0; s < 2; ++s) {
    const Options options = MakeOptions(s, 1 - s, s, true);
    const Written plain = Analyse(t, text, MakeOptions(s, 1 - s, s, false), true);
    const Written walked = Analyse(t, text, options, false);
    const Written remembered = Analyse(t, text, options, true, 1 << 12);
    ASSERT_EQ(plain.text, remembered.text);
    ASSERT_EQ(plain.unknown_words, remembered.unknown_words);
    ASSERT_TRUE(walked.pieces == remembered.pieces)
        << FirstDifference(walked.pieces, remembered.pieces);
    CheckPieces(t, text, remembered, options);
  }
}

}  // namespace
}  // namespace etiquem
