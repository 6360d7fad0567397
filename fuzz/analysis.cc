// Fuzz target: the whole analysis, in process, from text to output bytes.
//
// The input holds three things. Its first byte gives the options (-s, -d,
// -a, -m) and the read block size. The next bytes describe a small
// transducer (up to eight states over a pool of awkward symbols: upper-case
// letters, apostrophe, blank, "<", bytes 0, 1 and 255, Latin-1 letters; output
// symbols that include defines, 0, 48, 256 and 257), which the test helper
// writes as an automaton file and the loader reads back. The rest is the
// text, fed through a memfd; the output and the unknown-words file gather in
// strings.
//
// A run must never go past the live-state bounds, which end the program by
// design: before running, the number of live paths that the text could make
// is bounded from above (counting every attempt from every start at once),
// and inputs that could come near the bounds are skipped.
//
// Checked on every run: the analysis in pieces on several threads writes the
// same bytes; every superblank comes out whole and in input order.
// With a transducer that accepts nothing, or whose only readings are
// unknown-word readings (without -s and -m, and with no path that reads a
// superblank's marker as a blank), the output equals the input byte for
// byte, with the "]]>" that closes a superblank left open at the end.

#include "engine/analysis.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automaton_builder.h"
#include "common.h"
#include "engine/automaton.h"
#include "engine/output.h"
#include "engine/pieces.h"
#include "engine/reader.h"
#include "engine/scanner.h"

namespace {

using etiquem::Automaton;
using etiquem::fuzz::Fail;
using etiquem::test_support::AutomatonDescription;
using etiquem::test_support::DescribedGroup;
using etiquem::test_support::DescribedState;

// Input-side symbols a move can consume.
constexpr uint8_t kEntries[16] = {'a', 'b', 'c',  'A',  'B',  0xe9, 0xc9, '\'',
                                  ' ', '<', 0x00, 0x01, 0xff, '-',  '.',  '0'};
// Output-side symbols a move can write; 261 names no define (the loader
// refuses it where it can be followed).
constexpr int16_t kOutputs[16] = {0,   'a', 'b', 'A', '<', '/',  '0', 256,
                                  257, 258, 259, 260, '%', 0xe9, ' ', 261};
constexpr size_t kBlocks[8] = {1, 2, 3, 5, 9, 17, 64, 1 << 16};

// Reads the description bytes in order; past the end every byte is 0.
struct ByteReader {
  const uint8_t* p;
  size_t n;
  size_t pos = 0;
  uint8_t Byte() { return pos < n ? p[pos++] : 0; }
};

AutomatonDescription Generate(ByteReader& r, bool unsorted) {
  AutomatonDescription a;
  const int state_count = 1 + (r.Byte() & 7);
  const unsigned alphabet = unsigned(r.Byte()) | unsigned(r.Byte()) << 8;
  for (int i = 0; i < 16; ++i)
    if (alphabet >> i & 1) a.alphabet.push_back(char(kEntries[i]));
  std::sort(a.alphabet.begin(), a.alphabet.end(),
            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
  a.symbol_names = {{"n", 258}, {"vblex", 259}, {"<%s>", 260}};
  for (int s = 0; s < state_count; ++s) {
    DescribedState e;
    e.file_number = s;
    const uint8_t header = r.Byte();
    const int group_count = header >> 3 & 3;
    const int epsilon_group_count = header >> 5 & 3;
    for (int g = 0; g < group_count; ++g) {
      const uint8_t b = r.Byte();
      DescribedGroup group;
      group.input_symbol = kEntries[b & 15];
      const int move_count = 1 + (b >> 4 & 1);
      for (int m = 0; m < move_count; ++m) {
        const uint8_t output_symbol = r.Byte();
        group.moves.push_back(
            {kOutputs[output_symbol & 15], r.Byte() % state_count});
      }
      e.groups.push_back(group);
    }
    if (!unsorted) {
      std::stable_sort(e.groups.begin(), e.groups.end(),
                       [](const DescribedGroup& x, const DescribedGroup& y) {
                         return x.input_symbol < y.input_symbol;
                       });
      // One group per symbol, its moves in the order written.
      std::vector<DescribedGroup> merged;
      for (DescribedGroup& g : e.groups) {
        if (!merged.empty() && merged.back().input_symbol == g.input_symbol)
          merged.back().moves.insert(merged.back().moves.end(), g.moves.begin(),
                                     g.moves.end());
        else
          merged.push_back(g);
      }
      e.groups = merged;
    }
    // Markers: before the symbols (their place in a sorted list), or after
    // them in an unsorted one.
    std::vector<DescribedGroup> markers;
    if (header & 1)
      markers.push_back({int16_t(etiquem::kEndOfAnalysis), {{0, s}}});
    if (header & 2)
      markers.push_back({int16_t(etiquem::kEndOfPiece), {{0, s}}});
    if (header & 4)
      markers.push_back({int16_t(etiquem::kEndOfUnknown), {{0, s}}});
    if (unsorted)
      e.groups.insert(e.groups.end(), markers.begin(), markers.end());
    else
      e.groups.insert(e.groups.begin(), markers.rbegin(), markers.rend());
    if (epsilon_group_count > 0) {
      DescribedGroup epsilon_groups;
      for (int m = 0; m < epsilon_group_count; ++m) {
        const uint8_t output_symbol = r.Byte();
        epsilon_groups.moves.push_back(
            {kOutputs[output_symbol & 15], r.Byte() % state_count});
      }
      e.epsilon_groups.push_back(epsilon_groups);
      if (header & 0x80)
        e.epsilon_groups.push_back(
            epsilon_groups);  // a second group, never followed
    }
    a.states.push_back(e);
  }
  return a;
}

// What the analysis must stay within.
struct Bounds {
  double states;    // live states at once
  double nodes;     // output nodes of one attempt
  double accepted;  // accepted outputs of one attempt
};

// Upper bounds of the live-state set over the text `codes` (one symbol per
// position: a byte, or 32 for a superblank): the sum over all attempts
// starting anywhere, of the paths alive at each position. The matcher's set
// of one attempt is never larger.
bool WithinBounds(const Automaton& t, const std::vector<int>& codes,
                  const Bounds& f) {
  const size_t n = t.states.size();
  std::vector<double> v(n, 0), stepped(n, 0), closed(n, 0), next_round(n, 0);
  std::vector<double>
      live_window;  // per position: live paths, accepted outputs
  std::vector<double> accepting_window;
  double live_total = 0, accepting_total = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    const int c = codes[i];
    v[0] += 1;  // an attempt may start here
    std::fill(stepped.begin(), stepped.end(), 0);
    for (size_t s = 0; s < n; ++s) {
      if (v[s] == 0) continue;
      const etiquem::State& node = t.states[s];
      if (node.group_count <= 0) continue;
      for (int symbol : {c, c + 32}) {
        if (symbol == c + 32 && !etiquem::IsFoldedUpper(c)) break;
        const int g = etiquem::FindGroup(node.groups, symbol, node.group_count);
        if (g < 0) continue;
        for (int32_t m = 0; m < node.groups[g].move_count; ++m)
          stepped[size_t(node.groups[g].moves[m].target)] += v[s];
      }
    }
    // The epsilon closure: no epsilon cycles (the loader refuses them), so n
    // rounds reach every chain.
    closed = stepped;
    for (size_t round = 0; round < n; ++round) {
      next_round = stepped;
      for (size_t s = 0; s < n; ++s) {
        const etiquem::State& node = t.states[s];
        if (closed[s] == 0 || node.epsilon_group_count <= 0) continue;
        for (int32_t m = 0; m < node.epsilon_groups[0].move_count; ++m)
          next_round[size_t(node.epsilon_groups[0].moves[m].target)] +=
              closed[s];
      }
      closed.swap(next_round);
    }
    v.swap(closed);
    double states = 0, accepting = 0;
    for (size_t s = 0; s < n; ++s) {
      states += v[s];
      accepting += v[s] * std::max(0, t.states[s].marker_count);
    }
    if (states > f.states) return false;
    live_window.push_back(states);
    accepting_window.push_back(accepting);
    live_total += states;
    accepting_total += accepting;
    if (live_window.size() > size_t(etiquem::kMaxAttemptCharacters)) {
      live_total -=
          live_window[live_window.size() - 1 - etiquem::kMaxAttemptCharacters];
      accepting_total -= accepting_window[accepting_window.size() - 1 -
                                          etiquem::kMaxAttemptCharacters];
    }
    if (live_total > f.nodes || accepting_total > f.accepted) return false;
  }
  return true;
}

int input = -1;

// Both outputs of a run, gathered from its batches.
struct Collected {
  std::string output;
  std::string unknown_words;
};

bool Collect(void* context, const etiquem::Batch& batch) {
  Collected& c = *static_cast<Collected*>(context);
  c.output.append(batch.output);
  c.unknown_words.append(batch.unknown_words);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t options = data[0];
  const int s = options & 1, d = options >> 1 & 1, a = options >> 2 & 1,
            m = options >> 3 & 1;
  const size_t block = kBlocks[options >> 4 & 7];
  const bool unsorted = options >> 7;

  ByteReader r{data + 1, size - 1};
  const AutomatonDescription described = Generate(r, unsorted);
  const std::string bytes = etiquem::test_support::Bytes(described);
  auto t = std::make_unique<Automaton>();
  std::string error;
  if (!etiquem::LoadAutomatonFromBytes(
          *t, "fuzz.bin", reinterpret_cast<const uint8_t*>(bytes.data()),
          bytes.size(), error))
    return 0;  // undefined output symbols or an epsilon cycle: refused
  const std::string_view text(reinterpret_cast<const char*>(data) + 1 + r.pos,
                              size - 1 - r.pos);

  // The text as the scanner cuts it: the symbols the matcher will see, the
  // superblanks, and the output expected where it must equal the input.
  const int input_fd = etiquem::fuzz::Memfd(input, "entrada");
  etiquem::fuzz::Load(input_fd, text);
  std::vector<int> codes;
  std::vector<std::string> pending_superblanks;
  std::string rebuilt;
  {
    etiquem::Scanner e;
    etiquem::Input source;
    source.fd = input_fd;
    etiquem::InitScanner(e, source, block);
    for (int kind; (kind = etiquem::NextToken(e)) != etiquem::kTokenEnd;) {
      if (kind == etiquem::kTokenSuperblank) {
        codes.push_back(32);
        pending_superblanks.push_back(e.token.text);
        rebuilt += e.token.text;
      } else {
        codes.push_back(e.token.byte);
        rebuilt.push_back(char(e.token.byte));
      }
    }
  }
  // Far below the program's own bounds (so they are never met), and low
  // enough that no single input takes long: the bounds themselves are
  // exercised by the hostile-input tests.
  etiquem::LiveStates sample;
  if (sample.max_states < (1u << 12) || sample.max_nodes < (1u << 16) ||
      etiquem::Acceptances{}.max_accepted < (1u << 16))
    Fail("the live-state bounds are lower than this target assumes");
  if (!WithinBounds(*t, codes, Bounds{1 << 12, 1 << 16, 1 << 16})) return 0;

  etiquem::Options run_options;
  run_options.surface_forms = s;
  run_options.unknown_words = d;
  run_options.apostrophe_blank = a;
  run_options.mark_unknown = m;
  Collected one;
  {
    // One analyser for every run, as a program would keep it: its memory of
    // attempts is emptied, not made again, when the automaton changes.
    static etiquem::Analyser* analyser = new etiquem::Analyser();
    etiquem::fuzz::Load(input_fd, text);
    etiquem::Input source;
    source.fd = input_fd;
    etiquem::StartAnalysis(*analyser, t.get(), run_options, source, Collect,
                           &one);
    analyser->scanner.block.resize(block < 18 ? 18 : block);
    const etiquem::Step step = etiquem::AdvanceAnalysis(*analyser, UINT64_MAX);
    if (step.reached != etiquem::Reached::kEnd)
      Fail("the analysis failed within its bounds", "", analyser->error.message);
  }
  const std::string& actual = one.output;
  const std::string& unknown = one.unknown_words;

  // The same text in pieces of a few bytes on two workers, joined, with
  // small bounds on what a run holds: the same bytes in both outputs.
  {
    Collected pieces;
    etiquem::PieceParameters p;
    p.piece_bytes = 1 + size % 29;
    p.window_bytes = 1 + size / 29 % 17;
    p.held_bytes = size % 3 == 0 ? 1 + size % 61 : p.held_bytes;
    p.batch_bytes = size % 3 == 0 ? 1 + size % 37 : p.batch_bytes;
    etiquem::Error error;
    bool started = false;
    etiquem::AnalyseInPieces(t.get(), run_options, input_fd, 0, text.size(), p,
                             Collect, &pieces, &error, &started);
    if (pieces.output != actual)
      Fail("the analysis in pieces wrote other bytes", actual, pieces.output);
    if (pieces.unknown_words != unknown)
      Fail("the analysis in pieces wrote other unknown words", unknown,
           pieces.unknown_words);
  }

  size_t pos = 0;
  for (const std::string& sb : pending_superblanks) {
    size_t on = actual.find(sb, pos);
    if (on == std::string::npos)
      Fail("a superblank lost or out of order", sb, actual);
    pos = on + sb.size();
  }
  if (!d && !unknown.empty())
    Fail("unknown words written without -d", "", unknown);
  if (!unknown.empty() && unknown.back() != '\n')
    Fail("unknown-words file does not end with a line end", "", unknown);

  int complete_markers = 0, piece_markers = 0, unknown_markers = 0, blanks = 0;
  for (const DescribedState& e : described.states)
    for (const DescribedGroup& g : e.groups) {
      complete_markers += g.input_symbol == etiquem::kEndOfAnalysis;
      piece_markers += g.input_symbol == etiquem::kEndOfPiece;
      unknown_markers += g.input_symbol == etiquem::kEndOfUnknown;
      blanks += g.input_symbol == ' ';
    }
  const bool nothing_accepted =
      complete_markers + piece_markers + unknown_markers == 0;
  // An unknown word read through a superblank's marker (a path on the blank
  // it reads as) is written with a blank in the marker's place and the
  // superblank after it; then the output is not the input.
  const bool only_unknown = complete_markers + piece_markers == 0 && !s && !m &&
                            (blanks == 0 || pending_superblanks.empty());
  if ((nothing_accepted || only_unknown) && actual != rebuilt)
    Fail(nothing_accepted
             ? "output differs from the input (nothing accepted)"
             : "output differs from the input (unknown words only)",
         rebuilt, actual);
  return 0;
}
