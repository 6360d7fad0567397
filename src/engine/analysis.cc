// The analysis loop; see analysis.h.

#include "engine/analysis.h"

#include <string_view>

#include "engine/emission.h"
#include "engine/pieces.h"

namespace etiquem {

namespace {

// Drops the compound-only analysis of the position before `k` when a letter
// follows it: compound readings stand only at the end of a word.
void DropPieceOnlyReading(Reader& l, int k) {
  RingEntry& before = l.ring[(k + 255) & 255];
  if (before.acceptance == kPiecesOrUnknown && before.analysis.present)
    before.analysis.present = false;
}

// Starts walking an attempt.
void StartWalk(Analysis& analysis) {
  StartAtInitialState(analysis.live_states);
  ClearAcceptances(analysis.acceptances);
}

// Steps the walk over character `c`, the attempt's an.n-th, at entry `k`,
// and records what is accepted there.
void Step(Analysis& analysis, int c, int k) {
  Reader& l = *analysis.reader;
  if (IsLetter(*analysis.automaton, c)) DropPieceOnlyReading(l, k);
  RingEntry& entry = l.ring[k];
  // Records left here by an earlier attempt belong to text already written;
  // only this attempt's count.
  entry.acceptance = kNoAcceptance;
  entry.analysis.present = false;
  entry.unknown.present = false;
  if (analysis.surface_length == 1) {
    analysis.first_upper = StepLiveStates(analysis.live_states, c);
    analysis.latest_upper = analysis.first_upper;
  } else {
    analysis.latest_upper = StepLiveStates(analysis.live_states, c);
  }
  CloseOverEpsilons(analysis.live_states);
  RecordAcceptances(
      analysis.acceptances, analysis.live_states,
      std::string_view(analysis.surface, size_t(analysis.surface_length)),
      analysis.first_upper, analysis.latest_upper, entry,
      analysis.apostrophe_blank, analysis.mark_unknown);
}

// The attempt's characters so far, as they were stepped, back from the
// ring: while the memory answers, the surface is not kept.
void RebuildSurface(Analysis& analysis) {
  const Reader& l = *analysis.reader;
  for (int j = 0; j < analysis.surface_length; ++j) {
    const RingEntry& pos = l.ring[(analysis.start_entry + j) & 255];
    analysis.surface[j] = pos.kind == kSuperblankMarker ? ' ' : char(pos.byte);
  }
}

// Steps the attempt's characters so far, which were followed in the memory.
void StepRememberedPrefix(Analysis& analysis) {
  RebuildSurface(analysis);
  const int n = analysis.surface_length;
  StartWalk(analysis);
  for (int j = 0; j < n; ++j) {
    analysis.surface_length = j + 1;
    Step(analysis, uint8_t(analysis.surface[j]),
         (analysis.start_entry + j) & 255);
  }
}

// The attempt is over: the next one starts after position `p`.
void AfterAttempt(Analysis& analysis, int p) {
  analysis.reader->reread_position = etiquem::NextPosition(p);
  analysis.reader->read_fresh = false;
  analysis.at_attempt_start = true;
  analysis.surface_length = 0;
  if (analysis.reader->ring[p - 1].input_number >= analysis.watch_from)
      [[unlikely]]
    NoteCut(*analysis.piece_run, analysis, CutAfter(analysis, p));
}

// Writes the unknown word of the stretch's first `length` characters.
void WriteUnknownWord(Analysis& analysis, uint32_t length) {
  if (analysis.unknown_file != 1 || analysis.unknown_output == nullptr) return;
  Write(*analysis.unknown_output, std::string_view(analysis.surface, length));
  WriteByte(*analysis.unknown_output, '\n');
}

// Writes the longest stretch of the walked attempt and, when `store`, keeps
// the outcome in the memory. Returns the stretch's last position.
int EmitAttempt(Analysis& analysis, bool store) {
  Reader& l = *analysis.reader;
  const int p =
      LongestStretchEnd(l, analysis.start_entry, analysis.surface_length);
  const uint32_t length = uint32_t(((p - 1 - analysis.start_entry) & 255) + 1);
  const RecordSources sources{&analysis.live_states, &analysis.acceptances,
                              analysis.surface};
  const RingEntry& pos = l.ring[p - 1];
  const TextSource source = pos.analysis.present  ? kReading
                            : pos.unknown.present ? kUnknownWord
                                                  : kOwnCharacter;
  analysis.rendered.clear();
  const bool is_unknown =
      RenderPosition(l, sources, analysis.surface_forms, p, analysis.rendered);
  Write(*analysis.output, analysis.rendered);
  if (is_unknown) WriteUnknownWord(analysis, length);
  WriteSuperblanksUpTo(l, *analysis.output, l.ring[p - 1].input_number);
  if (store)
    StoreAttempt(
        analysis.memory,
        std::string_view(analysis.surface, size_t(analysis.surface_length)),
        length, analysis.rendered, source);
  ClearLiveStates(analysis.live_states);
  AfterAttempt(analysis, p);
  return p;
}

// Writes an attempt answered by the memory.
inline void EmitFromMemory(Analysis& analysis, const MemoryNode& node) {
  Reader& l = *analysis.reader;
  const int p = ((analysis.start_entry + int(node.length) - 1) & 255) + 1;
  const RingEntry& pos = l.ring[p - 1];
  if (node.source == kOwnCharacter) {
    if (pos.kind == kCharacter) WriteByte(*analysis.output, char(pos.byte));
  } else {
    Write(*analysis.output, std::string_view(analysis.memory.texts)
                                .substr(node.text_offset, node.text_size));
  }
  if (node.source == kUnknownWord && analysis.unknown_file == 1) {
    RebuildSurface(analysis);
    WriteUnknownWord(analysis, node.length);
  }
  WriteSuperblanksUpTo(l, *analysis.output, l.ring[p - 1].input_number);
  AfterAttempt(analysis, p);
}

// Follows the memory over the characters to be read again from the ring and
// the plain bytes already in the scanner's buffer (stored in the ring as the
// reader would store them), without a trip through the reader and the loop
// for every character: most of the text is read here. Runs only while the
// attempt (new, or so far answered by the memory) follows stored paths.
// Returns true when the attempt ended or left the stored paths here; false
// when the loop is to take the next character itself (a superblank, the end
// of the input, a '<', the end of the buffer, or no memory walk to make).
bool FollowMemory(Analysis& analysis) {
  Reader& l = *analysis.reader;
  if (!analysis.use_memory) return false;
  // Starts an attempt at the character at entry `k`, or says whether the
  // attempt under way follows the memory.
  auto follows = [&analysis](int k) {
    if (analysis.at_attempt_start) {
      analysis.at_attempt_start = false;
      analysis.start_entry = k;
      analysis.surface_length = 0;
      analysis.following_memory = true;
      analysis.memory_node = 0;
    }
    return analysis.following_memory;
  };
  // What the memory answered for the attempt's latest character; returns
  // true when the attempt ended there.
  auto answer = [&analysis](uint32_t child) {
    if (child & kClosedFlag) {
      EmitFromMemory(analysis, analysis.memory.nodes[child & ~kClosedFlag]);
      return true;
    }
    if (child != 0) {
      analysis.memory_node = child;
      return false;
    }
    // Off the stored paths: walk the attempt from its start.
    analysis.following_memory = false;
    StepRememberedPrefix(analysis);
    if (analysis.live_states.states.empty() ||
        analysis.surface_length == kMaxAttemptCharacters)
      EmitAttempt(analysis, true);
    return true;
  };
  // Characters read again from the ring.
  while (!l.read_fresh) {
    const RingEntry& pos = l.ring[l.reread_position - 1];
    if (pos.kind == kEmpty) break;  // the next one comes fresh
    if (pos.kind != kCharacter || !follows(l.reread_position - 1)) return false;
    l.reread_position = NextPosition(l.reread_position);
    ++analysis.surface_length;
    if (answer(LookupMemory(analysis.memory, analysis.memory_node, pos.byte)))
      return true;
  }
  // Plain bytes already in the scanner's buffer.
  Scanner& e = *l.scanner;
  if (e.state != kInText || e.next == e.end || e.block[e.next] == '<' ||
      !follows(l.write_position - 1))
    return false;
  const char* bytes = e.block.data() + e.next;
  const size_t available = e.end - e.next;
  const uint64_t input_number =
      ScannerOffset(e);  // of bytes[i] is input_number + i + 1
  uint32_t node = analysis.memory_node;
  uint32_t child = 0;
  size_t i = 0;
  while (i < available && bytes[i] != '<') {
    const uint8_t c = uint8_t(bytes[i++]);
    StoreInRun(l, c, input_number + i);
    child = LookupMemory(analysis.memory, node, c);
    if (child == 0 || (child & kClosedFlag)) break;
    node = child;
  }
  if (i > 0) ClearWritePosition(l);
  e.next += i;
  analysis.surface_length += int(i);
  analysis.memory_node = node;
  if (child != 0 && !(child & kClosedFlag)) return false;  // the buffer ran out
  return answer(child);
}

}  // namespace

NextAttemptCut CutAfter(const Analysis& analysis, int p) {
  const Reader& l = *analysis.reader;
  const int q = NextPosition(p);
  NextAttemptCut t;
  // With nothing read after it, the next attempt starts at the scanner's
  // next byte; otherwise at the first position read again.
  t.offset = q == l.write_position ? ScannerOffset(*l.scanner)
                                   : l.ring[q - 1].input_number - 1;
  t.clean = l.pending_superblanks.empty() && l.scanner->state == kInText;
  for (int r = q; t.clean && r != l.write_position; r = NextPosition(r))
    t.clean = l.ring[r - 1].kind == kCharacter;
  return t;
}

void InitAnalysis(Analysis& analysis, const Automaton* t, Reader* l,
                  OutputBuffer* output, OutputBuffer* unknown_output) {
  analysis.automaton = t;
  analysis.reader = l;
  analysis.output = output;
  analysis.unknown_output = unknown_output;
  InitLiveStates(analysis.live_states, t);
  analysis.live_states.output = output;
  analysis.live_states.unknown_output = unknown_output;
  analysis.at_attempt_start = true;
  analysis.first_upper = analysis.latest_upper = 0;
  analysis.surface_length = 0;
  analysis.start_entry = 0;
  ClearMemory(analysis.memory);
  analysis.following_memory = false;
}

void RunAnalysis(Analysis& analysis, int surface_forms, int unknown_file,
                 int apostrophe_blank, int mark_unknown) {
  Reader& l = *analysis.reader;
  analysis.surface_forms = surface_forms;
  analysis.unknown_file = unknown_file;
  analysis.apostrophe_blank = apostrophe_blank;
  analysis.mark_unknown = mark_unknown;
  l.read_fresh = true;
  analysis.at_attempt_start = true;
  analysis.surface_length = 0;
  analysis.start_entry = 0;
  for (;;) {
    if (analysis.stop) [[unlikely]]
      return;
    if (FollowMemory(analysis)) continue;
    int k = 0;
    const int c = NextCharacterAsBlank(l, k);
    if (c == kEndOfInput) {
      if (analysis.at_attempt_start) return;
      // The input ended inside an attempt: write its longest stretch; what
      // stands after it is analysed like any other input, re-read from the
      // ring up to the end mark.
      if (analysis.following_memory) {
        analysis.following_memory = false;
        StepRememberedPrefix(analysis);
      }
      const int p = EmitAttempt(analysis, false);
      if (l.ring[NextPosition(p) - 1].kind == kEndOfInputMark) return;
      continue;
    }
    if (analysis.at_attempt_start) {
      analysis.at_attempt_start = false;
      analysis.start_entry = k;
      analysis.surface_length = 0;
      analysis.following_memory = analysis.use_memory;
      analysis.memory_node = 0;
      if (!analysis.following_memory) StartWalk(analysis);
    }
    if (analysis.following_memory) {
      ++analysis.surface_length;
      const uint32_t child =
          LookupMemory(analysis.memory, analysis.memory_node, uint8_t(c));
      if (child & kClosedFlag) {
        EmitFromMemory(analysis, analysis.memory.nodes[child & ~kClosedFlag]);
        continue;
      }
      if (child != 0) {
        analysis.memory_node = child;
        continue;
      }
      // Off the stored paths: walk the attempt from its start.
      analysis.following_memory = false;
      StepRememberedPrefix(analysis);
    } else {
      analysis.surface[analysis.surface_length++] = char(c);
      Step(analysis, c, k);
    }
    if (analysis.live_states.states.empty() ||
        analysis.surface_length == kMaxAttemptCharacters)
      EmitAttempt(analysis, analysis.use_memory);
  }
}

}  // namespace etiquem
