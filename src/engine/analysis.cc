// The analysis loop; see analysis.h.

#include "engine/analysis.h"

#include <cassert>
#include <cstring>
#include <new>
#include <span>
#include <string_view>

#include "engine/emission.h"
#include "engine/failure.h"
#include "engine/messages.h"
#include "engine/utf8.h"

namespace etiquem {

namespace {

// Drops the compound-only analysis of the attempt's character before the
// (j+1)-th when a letter follows it: compound readings stand only at the end
// of a word.
void DropPieceOnlyReading(Analyser& an, int j) {
  if (j == 0) return;
  StepRecord& before = an.records.steps[j - 1];
  if (before.acceptance == kPiecesOrUnknown) before.analysis.present = false;
}

// Starts walking an attempt.
void StartWalk(Analyser& an) {
  StartAtInitialState(an.live_states);
  ClearAcceptances(an.acceptances);
}

// Steps the walk over the character of matching code `c` (-1: one that
// matches nothing), the attempt's surface_length-th, and records what is
// accepted there.
void StepCharacter(Analyser& an, int c) {
  const int j = an.surface_length - 1;
  assert(j >= 0 && j < kMaxAttemptCharacters);
  if (IsLetter(*an.automaton, c)) DropPieceOnlyReading(an, j);
  StepRecord& record = an.records.steps[j];
  record = StepRecord{};
  int upper = 0;
  if (c >= 0) [[likely]]
    upper = StepLiveStates(an.live_states, c);
  else
    ClearLiveStates(an.live_states);  // no move reads it
  if (j == 0) {
    an.first_upper = upper;
    an.latest_upper = an.first_upper;
  } else {
    an.latest_upper = upper;
  }
  CloseOverEpsilons(an.live_states);
  RecordAcceptances(an.acceptances, an.live_states,
                    std::string_view(an.surface, size_t(an.surface_length)),
                    an.first_upper, an.latest_upper, record,
                    an.options.apostrophe_blank, an.options.mark_unknown);
}

// Notes the character of code `c` (a byte in Latin-1; a character code in
// UTF-8) as the attempt's (j+1)-th.
template <bool kUtf8>
inline void NoteCharacter(Analyser& an, int j, int c) {
  if constexpr (kUtf8) {
    an.codes[j] = uint16_t(c);
    an.surface[j] = char(MatchingCode(c));
  } else {
    an.surface[j] = char(c);
  }
}

// The matching code of the attempt's (j+1)-th character.
template <bool kUtf8>
inline int MatchingCodeAt(const Analyser& an, int j) {
  if constexpr (kUtf8) return MatchingCode(an.codes[j]);
  return uint8_t(an.surface[j]);
}

// The attempt's characters so far, as they were stepped, back from the
// ring: while the memory answers, the surface is not kept.
template <bool kUtf8>
void RebuildSurface(Analyser& an) {
  for (int j = 0; j < an.surface_length; ++j) {
    const RingEntry& entry = an.reader.ring[RingAdd(an.start_index, j)];
    if constexpr (kUtf8) {
      NoteCharacter<kUtf8>(an, j,
                           entry.kind == kSuperblankMarker
                               ? ' '
                               : CharacterCode(entry));
    } else {
      an.surface[j] = entry.kind == kSuperblankMarker ? ' ' : char(entry.byte);
    }
  }
}

// UTF-8 mode: the input bytes of the attempt's first `n` characters into
// `echo` (a superblank's marker stands as a blank, as in the surface).
void BuildEcho(Analyser& an, int n) {
  size_t end = 0;
  for (int j = 0; j < n; ++j) {
    const RingEntry& entry = an.reader.ring[RingAdd(an.start_index, j)];
    if (entry.kind == kCharacter) {
      std::memcpy(an.echo + end, entry.raw, sizeof entry.raw);
      end += entry.length;
    } else {
      an.echo[end++] = ' ';
    }
    an.echo_ends[j] = uint16_t(end);
  }
}

// Steps the attempt's characters so far, which were followed in the memory.
template <bool kUtf8>
void StepRememberedPrefix(Analyser& an) {
  RebuildSurface<kUtf8>(an);
  const int n = an.surface_length;
  StartWalk(an);
  for (int j = 0; j < n; ++j) {
    an.surface_length = j + 1;
    StepCharacter(an, MatchingCodeAt<kUtf8>(an, j));
  }
}

// Input offset where the attempt after a stretch ending at `last` starts.
inline uint64_t OffsetAfter(const Analyser& an, RingIndex last) {
  const RingEntry& next = an.reader.ring[RingAdd(last, 1)];
  // With nothing read after it, at the scanner's next byte.
  return next.kind != kEmpty ? next.input_number - 1
                             : ScannerOffset(an.scanner);
}

// The attempt is over: the next one starts after entry `last`.
void AfterAttempt(Analyser& an, RingIndex last) {
  an.reader.reread_index = RingAdd(last, 1);
  an.reader.read_fresh = false;
  an.at_attempt_start = true;
  an.surface_length = 0;
  // A whole run has no limit: one compare instead of finding the offset.
  if (an.limit != UINT64_MAX && OffsetAfter(an, last) >= an.limit) [[unlikely]] {
    an.step = BoundaryAfter(an, last);
    an.stop = true;
  }
}

// Appends to `surfaces` the input bytes of the stretch from the attempt's
// first entry to `last`: its characters, and the input bytes of each
// superblank whose marker it covers (still waiting: superblanks are written
// after the stretch that covers them; one that the input ended in is
// written with a closer the input lacks).
void AppendSurface(const Analyser& an, RingIndex last, std::string& surfaces) {
  const Reader& reader = an.reader;
  // Characters are gathered here and appended together: one append per
  // stretch rather than one per character (a tenth of the cost of events).
  char characters[kMaxAttemptCharacters * 4];
  size_t count = 0;
  for (RingIndex i = an.start_index;; i = RingAdd(i, 1)) {
    const RingEntry& entry = reader.ring[i];
    if (entry.kind == kCharacter) {
      assert(count + 4 <= sizeof characters);
      if (an.options.utf8) {  // the character's own bytes
        std::memcpy(characters + count, entry.raw, 4);
        count += entry.length;
      } else {
        characters[count++] = char(entry.byte);
      }
    } else if (entry.kind == kSuperblankMarker) {
      surfaces.append(characters, count);
      count = 0;
      for (const PendingSuperblank& superblank : reader.pending_superblanks) {
        if (superblank.input_number != entry.input_number) continue;
        const uint64_t size = superblank.input_end - (entry.input_number - 1);
        surfaces.append(superblank.text, 0, size_t(size));
      }
    }
    if (i == last) break;
  }
  surfaces.append(characters, count);
}

// Describes the stretch ending at entry `last`, written to `an.output.text`
// from `begin` on, as a piece of kind `kind` (not kSuperblank) whose reading
// parts are the last `part_count` of `an.output.parts`.
void NoteEvent(Analyser& an, PieceKind kind, RingIndex last, size_t begin,
               size_t part_count) {
  Output& out = an.output;
  assert(kind != PieceKind::kSuperblank && part_count <= out.parts.size());
  Event event;
  event.kind = kind;
  event.input_begin = an.reader.ring[an.start_index].input_number - 1;
  event.input_end = OffsetAfter(an, last);
  event.output_begin = uint32_t(begin);
  event.output_end = uint32_t(out.text.size());
  event.first_part = uint32_t(out.parts.size() - part_count);
  event.part_count = uint32_t(part_count);
  if (kind != PieceKind::kCharacter) {
    event.surface_begin = uint32_t(out.surfaces.size());
    AppendSurface(an, last, out.surfaces);
    event.surface_end = uint32_t(out.surfaces.size());
  }
  out.events.push_back(event);
}

// The memory of attempts changes only speed: where its room cannot be had,
// the analysis goes on without it.
void DropMemory(Analyser& an) {
  an.use_memory = false;
  an.following_memory = false;
  an.memory = AttemptMemory{};
}

// Keeps the outcome of the attempt just written in the memory: it wrote
// `text` from `source` for its first `length` characters, described by
// `parts` (whose first_symbol indexes `symbols`).
template <bool kUtf8>
void Remember(Analyser& an, uint32_t length, std::string_view text,
              TextSource source, std::span<const ReadingPart> parts,
              const int32_t* symbols) {
  try {
    if constexpr (kUtf8) {
      StoreAttempt(an.memory,
                   std::span<const uint16_t>(an.codes, size_t(an.surface_length)),
                   length, text, source, parts, symbols);
    } else {
      StoreAttempt(an.memory,
                   std::string_view(an.surface, size_t(an.surface_length)),
                   length, text, source, parts, symbols);
    }
  } catch (const std::bad_alloc&) {
    DropMemory(an);
  }
}

// Appends the reading parts of analysis record `r` to the output.
void AppendParts(Analyser& an, const ReadingRecord& r) {
  Output& out = an.output;
  for (uint32_t i = 0; i < r.accepted_count; ++i) {
    const AcceptedOutput& accepted =
        an.acceptances.accepted[r.first_accepted + i];
    ReadingPart part;
    part.first_symbol = uint32_t(out.symbols.size());
    part.symbol_count = uint32_t(OutputSymbols(
        an.live_states, accepted.output, an.acceptances.symbol_scratch));
    part.piece = accepted.marker == kEndOfPiece;
    part.first_upper = r.first_upper != 0;
    part.latest_upper = r.latest_upper != 0;
    out.symbols.insert(out.symbols.end(), an.acceptances.symbol_scratch,
                       an.acceptances.symbol_scratch + part.symbol_count);
    out.parts.push_back(part);
  }
}

// Appends the reading parts that the memory keeps for closed node `node`;
// returns how many.
size_t AppendRememberedParts(Analyser& an, const MemoryNode& node) {
  if (node.first_part == kNoParts) return 0;
  Output& out = an.output;
  const AttemptMemory& m = an.memory;
  size_t count = 0;
  for (size_t k = node.first_part;; ++k) {
    const RememberedPart& kept = m.parts[k];
    const int32_t* symbols = PartSymbols(m, kept);
    ReadingPart part;
    part.first_symbol = uint32_t(out.symbols.size());
    part.symbol_count = kept.symbol_count;
    part.piece = (kept.flags & kPartPiece) != 0;
    part.first_upper = (kept.flags & kPartFirstUpper) != 0;
    part.latest_upper = (kept.flags & kPartLatestUpper) != 0;
    out.symbols.insert(out.symbols.end(), symbols,
                       symbols + part.symbol_count);
    out.parts.push_back(part);
    ++count;
    if (kept.last) return count;
  }
}

inline TextSource SourceOf(PieceKind kind) {
  return kind == PieceKind::kReading       ? kReading
         : kind == PieceKind::kUnknownWord ? kUnknownWord
                                           : kOwnCharacter;
}

inline PieceKind KindOf(TextSource source) {
  return source == kReading       ? PieceKind::kReading
         : source == kUnknownWord ? PieceKind::kUnknownWord
                                  : PieceKind::kCharacter;
}

// Writes the longest stretch of the walked attempt and, when `store`, keeps
// the outcome in the memory. Returns the stretch's last entry.
template <bool kUtf8>
RingIndex EmitAttempt(Analyser& an, bool store) {
  const int length =
      LongestStretch(an.records, an.surface_length, an.automaton->whole_words);
  const RingIndex last = RingAdd(an.start_index, length - 1);
  const StepRecord& record = an.records.steps[length - 1];
  RecordSources sources{&an.live_states, &an.acceptances, an.surface};
  if constexpr (kUtf8) {
    BuildEcho(an, length);
    sources.echo = an.echo;
    sources.echo_ends = an.echo_ends;
  }
  Output& out = an.output;
  // The stretch is rendered straight into the output, and kept from there
  // before anything may be handed over.
  const size_t begin = out.text.size();
  const size_t first_part = out.parts.size();
  const PieceKind kind = RenderStretch(an.reader.ring[last], record, sources,
                                       an.options.surface_forms, out.text);
  if (an.options.events && kind != PieceKind::kSuperblank) {
    if (kind == PieceKind::kReading) AppendParts(an, record.analysis);
    NoteEvent(an, kind, last, begin, out.parts.size() - first_part);
  }
  if (store) {
    const std::span<const ReadingPart> parts(out.parts.data() + first_part,
                                             out.parts.size() - first_part);
    Remember<kUtf8>(an, uint32_t(length),
                    std::string_view(out.text).substr(begin), SourceOf(kind),
                    parts, out.symbols.data());
  }
  CheckThreshold(out);
  if (kind == PieceKind::kUnknownWord && an.options.unknown_words)
    WriteUnknownLine(out, EchoOf(sources, length));
  WriteSuperblanksUpTo(an.reader, out, an.reader.ring[last].input_number,
                       an.options.events);
  ClearLiveStates(an.live_states);
  AfterAttempt(an, last);
  return last;
}

// Writes an attempt answered by the memory.
template <bool kUtf8>
inline void EmitFromMemory(Analyser& an, const MemoryNode& node) {
  const RingIndex last = RingAdd(an.start_index, int(node.length) - 1);
  const RingEntry& entry = an.reader.ring[last];
  Output& out = an.output;
  const size_t begin = out.text.size();
  // A superblank's marker alone writes nothing itself: its text follows.
  const bool written = node.source != kOwnCharacter || entry.kind == kCharacter;
  if (node.source == kOwnCharacter) {
    if (entry.kind == kCharacter) {
      // Appended without handing over: the event below points into it.
      if (!kUtf8 || entry.length == 1)  // blanks and punctuation, mostly
        out.text.push_back(char(kUtf8 ? entry.raw[0] : entry.byte));
      else
        out.text.append(reinterpret_cast<const char*>(entry.raw),
                        entry.length);
    }
  } else {
    out.text.append(an.memory.texts, node.text_offset, node.text_size);
  }
  if (an.options.events && written) {
    const size_t parts = AppendRememberedParts(an, node);
    NoteEvent(an, KindOf(TextSource(node.source)), last, begin, parts);
  }
  CheckThreshold(out);
  if (node.source == kUnknownWord && an.options.unknown_words) {
    if constexpr (kUtf8) {
      BuildEcho(an, int(node.length));
      WriteUnknownLine(out,
                       std::string_view(an.echo, an.echo_ends[node.length - 1]));
    } else {
      RebuildSurface<kUtf8>(an);
      WriteUnknownLine(out, std::string_view(an.surface, node.length));
    }
  }
  WriteSuperblanksUpTo(an.reader, out, entry.input_number, an.options.events);
  AfterAttempt(an, last);
}

// Starts an attempt at entry `index` when none is under way; says whether
// the attempt follows the memory.
inline bool FollowsMemory(Analyser& an, RingIndex index) {
  if (an.at_attempt_start) {
    an.at_attempt_start = false;
    an.start_index = index;
    an.surface_length = 0;
    an.following_memory = true;
    an.memory_node = 0;
  }
  return an.following_memory;
}

// What the memory answered for the attempt's latest character; returns true
// when the attempt ended there.
template <bool kUtf8>
inline bool TakeAnswer(Analyser& an, uint32_t child) {
  if (child & kClosedFlag) {
    EmitFromMemory<kUtf8>(an, an.memory.nodes[child & ~kClosedFlag]);
    return true;
  }
  if (child != 0) {
    an.memory_node = child;
    return false;
  }
  // Off the stored paths: walk the attempt from its start.
  an.following_memory = false;
  StepRememberedPrefix<kUtf8>(an);
  if (an.live_states.states.empty() ||
      an.surface_length == kMaxAttemptCharacters)
    EmitAttempt<kUtf8>(an, true);
  return true;
}

// UTF-8 mode: follows the memory over the characters already in the
// scanner's block, from its next byte (plain, and not '<'): ASCII bytes
// directly, other characters when they are whole and valid there; an
// invalid unit or one the block cuts is left to the reader. Stores them in
// the ring as the reader would and returns the last answer (0 when no
// character was taken, with `taken` 0).
uint32_t FollowBlockUtf8(Analyser& an, uint32_t node, int& taken) {
  Reader& reader = an.reader;
  Scanner& scanner = an.scanner;
  const char* bytes = scanner.block.data() + scanner.next;
  const size_t available = scanner.end - scanner.next;
  const uint64_t first_number = ScannerOffset(scanner) + 1;  // of bytes[0]
  uint32_t child = 0;
  size_t i = 0;
  int characters = 0;
  while (i < available) {
    const uint8_t b = uint8_t(bytes[i]);
    uint32_t code;
    int length = 1;
    if (b < 0x80) {
      if (b == '<') break;
      StoreCharacterInRun(reader, b, kLatin1Character, bytes + i, 1,
                          first_number + i);
      code = b;
    } else {
      uint32_t code_point;
      length = Utf8Unit(reinterpret_cast<const uint8_t*>(bytes) + i,
                        available - i, false, code_point);
      if (length <= 0) break;
      uint8_t matching;
      const CharacterVariant variant = ClassifyCodePoint(code_point, matching);
      StoreCharacterInRun(reader, matching, variant, bytes + i, length,
                          first_number + i);
      code = variant == kLatin1Character ? matching
                                         : uint32_t(kVariantCodeBase + variant);
    }
    i += size_t(length);
    ++characters;
    child = LookupMemory(an.memory, node, code);
    if (child == 0 || (child & kClosedFlag)) break;
    node = child;
  }
  if (characters > 0) ClearWriteEntry(reader);
  scanner.next += i;
  an.memory_node = node;
  taken = characters;
  return child;
}

// Follows the memory over the characters to be read again from the ring and
// the plain bytes already in the scanner's block (stored in the ring as the
// reader would store them), without a trip through the reader and the loop
// for every character: most of the text is read here. Runs only while the
// attempt (new, or so far answered by the memory) follows stored paths.
// Returns true when the attempt ended or left the stored paths here; false
// when the loop is to take the next character itself (a superblank, the end
// of the input, a '<', the end of the block, or no memory walk to make).
template <bool kUtf8>
bool FollowMemory(Analyser& an) {
  if (!an.use_memory) return false;
  Reader& reader = an.reader;
  // Characters read again from the ring.
  while (!reader.read_fresh) {
    const RingEntry& entry = reader.ring[reader.reread_index];
    if (entry.kind == kEmpty) break;  // the next one comes fresh
    if (entry.kind != kCharacter || !FollowsMemory(an, reader.reread_index))
      return false;
    reader.reread_index = RingAdd(reader.reread_index, 1);
    ++an.surface_length;
    const uint32_t code = kUtf8 ? uint32_t(CharacterCode(entry)) : entry.byte;
    if (TakeAnswer<kUtf8>(an, LookupMemory(an.memory, an.memory_node, code)))
      return true;
  }
  // Plain bytes already in the scanner's block.
  Scanner& scanner = an.scanner;
  if (!PlainByteAt(scanner, scanner.next) ||
      !FollowsMemory(an, reader.write_index))
    return false;
  if constexpr (kUtf8) {
    int taken = 0;
    const uint32_t child = FollowBlockUtf8(an, an.memory_node, taken);
    an.surface_length += taken;
    if (taken == 0) return false;  // a character for the reader to decode
    if (child != 0 && !(child & kClosedFlag)) return false;
    return TakeAnswer<kUtf8>(an, child);
  }
  const char* bytes = scanner.block.data() + scanner.next;
  const size_t available = scanner.end - scanner.next;
  const uint64_t first_number = ScannerOffset(scanner) + 1;  // of bytes[0]
  uint32_t node = an.memory_node;
  uint32_t child = 0;
  size_t i = 0;
  while (i < available && bytes[i] != '<') {
    const uint8_t c = uint8_t(bytes[i]);
    StoreInRun(reader, c, first_number + i);
    ++i;
    child = LookupMemory(an.memory, node, c);
    if (child == 0 || (child & kClosedFlag)) break;
    node = child;
  }
  if (i > 0) ClearWriteEntry(reader);
  scanner.next += i;
  an.surface_length += int(i);
  an.memory_node = node;
  if (child != 0 && !(child & kClosedFlag)) return false;  // the block ran out
  return TakeAnswer<kUtf8>(an, child);
}

// The loop, until the input ends or the limit is reached.
template <bool kUtf8>
void Run(Analyser& an) {
  Reader& reader = an.reader;
  for (;;) {
    if (an.stop) [[unlikely]]
      return;
    if (FollowMemory<kUtf8>(an)) continue;
    RingIndex index = 0;
    const int c = kUtf8 ? NextCharacterAsBlankUtf8(reader, index)
                        : NextCharacterAsBlank(reader, index);
    if (c == kEndOfInput) {
      if (an.at_attempt_start) {
        an.finished = true;
        return;
      }
      // The input ended inside an attempt: write its longest stretch; what
      // stands after it is analysed like any other input, read again from
      // the ring up to the end mark.
      if (an.following_memory) {
        an.following_memory = false;
        StepRememberedPrefix<kUtf8>(an);
      }
      const RingIndex last = EmitAttempt<kUtf8>(an, false);
      if (reader.ring[RingAdd(last, 1)].kind == kEndOfInputMark) {
        an.finished = !an.stop;
        return;
      }
      continue;
    }
    if (an.at_attempt_start) {
      an.at_attempt_start = false;
      an.start_index = index;
      an.surface_length = 0;
      an.following_memory = an.use_memory;
      an.memory_node = 0;
      if (!an.following_memory) StartWalk(an);
    }
    if (an.following_memory) {
      ++an.surface_length;
      const uint32_t child =
          LookupMemory(an.memory, an.memory_node, uint32_t(c));
      if (child & kClosedFlag) {
        EmitFromMemory<kUtf8>(an, an.memory.nodes[child & ~kClosedFlag]);
        continue;
      }
      if (child != 0) {
        an.memory_node = child;
        continue;
      }
      // Off the stored paths: walk the attempt from its start.
      an.following_memory = false;
      StepRememberedPrefix<kUtf8>(an);
    } else {
      NoteCharacter<kUtf8>(an, an.surface_length++, c);
      StepCharacter(an, kUtf8 ? MatchingCode(c) : c);
    }
    if (an.live_states.states.empty() ||
        an.surface_length == kMaxAttemptCharacters)
      EmitAttempt<kUtf8>(an, an.use_memory);
  }
}

// Hands over what was written before a failure, so that it is not lost;
// a sink that refuses it changes nothing more.
void DeliverBeforeFailure(Analyser& an) {
  try {
    Deliver(an.output);
  } catch (const AnalysisStopped&) {
  } catch (const std::bad_alloc&) {
  }
}

// Whether two runs write the same for the same characters.
bool SameOutputOptions(const Options& a, const Options& b) {
  return a.surface_forms == b.surface_forms &&
         a.mark_unknown == b.mark_unknown &&
         a.apostrophe_blank == b.apostrophe_blank && a.events == b.events &&
         a.utf8 == b.utf8;
}

Step Finished(const Analyser& an) {
  Step step;
  step.reached = an.error.failed()   ? Reached::kError
                 : an.output.stopped ? Reached::kStopped
                                     : Reached::kEnd;
  step.offset = ScannerOffset(an.scanner);
  return step;
}

}  // namespace

Step BoundaryAfter(const Analyser& an, RingIndex last) {
  const Reader& reader = an.reader;
  Step step;
  step.reached = Reached::kBoundary;
  step.offset = OffsetAfter(an, last);
  step.clean = reader.pending_superblanks.empty() &&
               an.scanner.state == kInText;
  for (RingIndex i = RingAdd(last, 1); step.clean && i != reader.write_index;
       i = RingAdd(i, 1))
    step.clean = reader.ring[i].kind == kCharacter;
  return step;
}

void StartAnalysis(Analyser& an, const Automaton* automaton,
                   const Options& options, const Input& input, BatchSink sink,
                   void* sink_context) {
  an.automaton = automaton;
  an.options = options;
  InitScanner(an.scanner, input, size_t(1) << 16, options.utf8);
  InitReader(an.reader, &an.scanner);
  an.scanner.flush_before_read = &an.output;
  Output& out = an.output;
  out.text.clear();
  out.unknown_words.clear();
  out.events.clear();
  out.parts.clear();
  out.symbols.clear();
  out.text_delivered = 0;
  out.unknown_delivered = 0;
  out.stopped = false;
  out.sink = sink;
  out.sink_context = sink_context;
  out.surfaces.clear();
  an.use_memory = true;
  // What the memory holds depends on the dictionary and on the options that
  // shape the output.
  const bool new_dictionary = an.live_states.automaton != automaton;
  if (new_dictionary) InitLiveStates(an.live_states, automaton);
  if (new_dictionary || !SameOutputOptions(an.memory_options, options)) {
    try {
      ClearMemory(an.memory);
    } catch (const std::bad_alloc&) {
      DropMemory(an);
    }
  }
  an.memory_options = options;
  an.at_attempt_start = true;
  an.first_upper = an.latest_upper = 0;
  an.surface_length = 0;
  an.start_index = 0;
  an.following_memory = false;
  an.limit = UINT64_MAX;
  an.stop = false;
  an.finished = false;
  an.error = Error{};
}

Step AdvanceAnalysis(Analyser& an, uint64_t limit) {
  if (an.finished) return Finished(an);
  an.limit = limit;
  an.stop = false;
  try {
    if (an.options.utf8)
      Run<true>(an);
    else
      Run<false>(an);
    if (!an.finished) return an.step;
    Deliver(an.output);
  } catch (AnalysisFailure& failure) {
    an.finished = true;
    an.error = Error{failure.status, std::move(failure.message)};
    DeliverBeforeFailure(an);
  } catch (const AnalysisStopped&) {
    an.finished = true;
    an.output.stopped = true;
  } catch (const std::bad_alloc&) {
    an.finished = true;
    an.error = Error{messages::kStatusFailure, messages::kOutOfMemory};
    DeliverBeforeFailure(an);
  }
  return Finished(an);
}

}  // namespace etiquem
