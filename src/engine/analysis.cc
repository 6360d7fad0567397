// The analysis loop; see analysis.h.

#include "engine/analysis.h"

#include <algorithm>
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

// Appends `bytes` to `text`, a text of more than 16 bytes (AppendText).
[[gnu::noinline]] void AppendLongText(std::string& text,
                                      std::string_view bytes) {
  text.append(bytes.data(), bytes.size());
}

// Appends `bytes` to `text`: the write of every remembered stretch, with
// std::string's append inlined here whatever the compiler decides for its
// other callers (a call to it cost a tenth of a remembered stretch).
// kTextChunkBytes bytes from the start of `bytes` are readable (the
// memory's texts are): a text of up to 16 bytes, most of them, is copied as
// a chunk of that fixed size, which is two moves inline, and the size cut
// back to its own bytes, instead of a call to memcpy for a copy of varying
// size.
[[gnu::flatten]] inline void AppendText(std::string& text,
                                        std::string_view bytes) {
  constexpr size_t kChunk = kTextChunkBytes;
  const size_t n = bytes.size();
  if (n <= kChunk) [[likely]] {
    text.append(bytes.data(), kChunk);
    text.erase(text.size() - (kChunk - n));
  } else {
    AppendLongText(text, bytes);
  }
}

// Appends byte `c` to `text`, inline for the same reason: the write of
// most blanks and punctuation.
[[gnu::flatten]] inline void AppendByte(std::string& text, char c) {
  text.push_back(c);
}

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

// Steps the live states over the character of matching code `c` (-1: one
// that matches nothing), the attempt's surface_length-th, and closes them
// over epsilon moves, keeping the case flags of the attempt.
void StepOutputs(Analyser& an, int c) {
  const int j = an.surface_length - 1;
  assert(j >= 0 && j < kMaxAttemptCharacters);
  int upper = 0;
  if (c >= 0) [[likely]]
    upper = StepAndCloseLiveStates(an.live_states, c);
  else
    ClearLiveStates(an.live_states);  // no move reads it
  if (j == 0) {
    an.first_upper = upper;
    an.latest_upper = an.first_upper;
  } else {
    an.latest_upper = upper;
  }
}

// Records what the live states accept at the attempt's latest character.
void RecordLatest(Analyser& an) {
  StepRecord& record = an.records.steps[an.surface_length - 1];
  record = StepRecord{};
  RecordAcceptances(an.acceptances, an.live_states,
                    std::string_view(an.surface, size_t(an.surface_length)),
                    an.first_upper, an.latest_upper, record,
                    an.options.apostrophe_blank, an.options.mark_unknown);
}

// Steps the walk over the character of matching code `c`, the attempt's
// surface_length-th, and records what is accepted there.
void StepCharacter(Analyser& an, int c) {
  const int j = an.surface_length - 1;
  if (IsLetter(*an.automaton, c)) DropPieceOnlyReading(an, j);
  StepOutputs(an, c);
  RecordLatest(an);
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
// ring (a superblank's marker as a blank).
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

// Steps the attempt's characters so far, which were walked without outputs,
// with the full walk.
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

// The attempt is over: the next one starts after entry `last`. Inline: it
// ends every attempt, and its call was a twentieth of what a remembered
// stretch costs.
[[gnu::always_inline]] inline void AfterAttempt(Analyser& an, RingIndex last) {
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

// AfterAttempt for an attempt whose stretch was its first `length`
// characters: the next attempt's entry found with one addition.
[[gnu::always_inline]] inline void AfterStretchOf(Analyser& an, int length) {
  an.reader.reread_index = RingAdd(an.start_index, length);
  an.reader.read_fresh = false;
  an.at_attempt_start = true;
  an.surface_length = 0;
  if (an.limit != UINT64_MAX) [[unlikely]] {
    const RingIndex last = RingAdd(an.start_index, length - 1);
    if (OffsetAfter(an, last) >= an.limit) {
      an.step = BoundaryAfter(an, last);
      an.stop = true;
    }
  }
}

// Appends to `surfaces` the input bytes of the stretch from the attempt's
// first entry to `last`: its characters, and the input bytes of each
// superblank whose marker it covers (still waiting: superblanks are written
// after the stretch that covers them; one that the input ended in is
// written with a closer the input lacks).
void AppendSurface(const Analyser& an, RingIndex last, std::string& surfaces) {
  const Reader& reader = an.reader;
  // Latin-1 with no superblank waiting (so none inside the stretch): the
  // stretch's bytes are the attempt's characters as stepped, in one append.
  if (!an.options.utf8 && reader.pending_superblanks.empty()) {
    const int length = RingAdd(last, -int(an.start_index)) + 1;
    assert(length <= an.surface_length);
    surfaces.append(an.surface, size_t(length));
    return;
  }
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

// The event of the stretch from the attempt's first entry to `last`, written
// to `an.output.text` from `begin` on, without its parts and surface.
Event StretchEvent(const Analyser& an, PieceKind kind, RingIndex last,
                   size_t begin) {
  Event event;
  event.kind = kind;
  event.input_begin = an.reader.ring[an.start_index].input_number - 1;
  event.input_end = OffsetAfter(an, last);
  event.output_begin = uint32_t(begin);
  event.output_end = uint32_t(an.output.text.size());
  return event;
}

// Describes the stretch ending at entry `last`, written to `an.output.text`
// from `begin` on, as a piece of kind `kind` (not kSuperblank) whose reading
// parts are the last `part_count` of `an.output.parts`.
void NoteEvent(Analyser& an, PieceKind kind, RingIndex last, size_t begin,
               size_t part_count) {
  Output& out = an.output;
  assert(kind != PieceKind::kSuperblank && part_count <= out.parts.size());
  Event event = StretchEvent(an, kind, last, begin);
  event.first_part = uint32_t(out.parts.size() - part_count);
  event.part_count = uint32_t(part_count);
  if (kind != PieceKind::kCharacter) {
    event.surface_begin = uint32_t(out.surfaces.size());
    AppendSurface(an, last, out.surfaces);
    event.surface_end = uint32_t(out.surfaces.size());
  }
  out.events.push_back(event);
}


// The largest sum of live-state list sizes over an attempt that the
// deterministic walk goes on with: within it, the full walk can never pass
// its bounds on live states (each list is at most the sum), output nodes
// (each list entry makes at most one) or accepted outputs (each entry
// accepts at most once per marker).
uint64_t PathBoundLimit(const Analyser& an) {
  const uint64_t markers =
      uint64_t(std::max(an.automaton->max_marker_count, 1));
  const LiveStates& v = an.live_states;
  uint64_t limit = v.max_states;
  limit = std::min<uint64_t>(limit, v.max_nodes - 1);
  limit = std::min<uint64_t>(limit, an.acceptances.max_accepted / markers);
  return limit;
}

// The memory of stretches and the deterministic walk change only speed:
// where their room cannot be had, the analysis goes on with the full walk.
void DropFastPath(Analyser& an) {
  an.use_dfa = false;
  an.following_dfa = false;
  an.memory = StretchMemory{};
}

// The key of the attempt's first `length` characters in the memory.
template <bool kUtf8>
inline std::string_view StretchKey(const Analyser& an, int length) {
  if constexpr (kUtf8)
    return std::string_view(reinterpret_cast<const char*>(an.codes),
                            size_t(length) * sizeof an.codes[0]);
  return std::string_view(an.surface, size_t(length));
}

// Keeps what the stretch of the attempt's first `length` characters wrote:
// `text` from `source`, described by `parts` (whose first_symbol indexes
// `symbols`), unless the memory holds it. `missing`: the caller looked
// these characters up, written from `source`, and found nothing.
template <bool kUtf8>
void Remember(Analyser& an, int length, std::string_view text,
              TextSource source, std::span<const ReadingPart> parts,
              const int32_t* symbols, bool missing) {
  if (source == kOwnCharacter) return;
  const std::string_view key = StretchKey<kUtf8>(an, length);
  if (!missing && FindStretch(an.memory, key, source) != nullptr) return;
  try {
    StoreStretch(an.memory, key, source, text, parts, symbols);
  } catch (const std::bad_alloc&) {
    DropFastPath(an);
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

// Appends the reading parts that the memory keeps from `first_part` on;
// returns how many.
size_t AppendRememberedParts(Analyser& an, uint32_t first_part) {
  if (first_part == kNoParts) return 0;
  Output& out = an.output;
  const StretchMemory& m = an.memory;
  size_t count = 0;
  for (size_t k = first_part;; ++k) {
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

// Describes, as NoteEvent does, a stretch written from the memory's entry
// `entry_index`, whose parts start at `first_part` of the memory. When the
// same entry was written earlier in the batch being gathered, the event
// points at the parts (and, when they are the attempt's bytes, the
// surface) written for it then.
void NoteRememberedEvent(Analyser& an, PieceKind kind, RingIndex last,
                         size_t begin, uint32_t entry_index,
                         uint32_t first_part) {
  Output& out = an.output;
  assert(an.events_in_batch.size() == Analyser::kEventsInBatchSlots);
  Analyser::EventsInBatch& seen =
      an.events_in_batch[entry_index & (Analyser::kEventsInBatchSlots - 1)];
  // Latin-1 with no superblank waiting: the surface is the stretch's
  // characters, which the memory's key is.
  const bool surface_is_key =
      !an.options.utf8 && an.reader.pending_superblanks.empty();
  if (seen.entry != entry_index || seen.batch != out.batches ||
      seen.memory_generation != an.memory.generation) {
    const size_t parts = AppendRememberedParts(an, first_part);
    NoteEvent(an, kind, last, begin, parts);
    const Event& event = out.events.back();
    seen.entry = entry_index;
    seen.batch = out.batches;
    seen.memory_generation = an.memory.generation;
    seen.first_part = event.first_part;
    seen.part_count = event.part_count;
    seen.surface_begin = event.surface_begin;
    seen.surface_end = surface_is_key ? event.surface_end : event.surface_begin;
    return;
  }
  Event event = StretchEvent(an, kind, last, begin);
  event.first_part = seen.first_part;
  event.part_count = seen.part_count;
  if (surface_is_key && seen.surface_end != seen.surface_begin) {
    event.surface_begin = seen.surface_begin;
    event.surface_end = seen.surface_end;
    assert(event.surface_end - event.surface_begin ==
           event.input_end - event.input_begin);
  } else {
    event.surface_begin = uint32_t(out.surfaces.size());
    AppendSurface(an, last, out.surfaces);
    event.surface_end = uint32_t(out.surfaces.size());
  }
  out.events.push_back(event);
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

// Writes the stretch of the walked attempt's first `length` characters
// from the records of the full walk and, when `store`, keeps what it wrote
// in the memory; `missing` is a source under which the memory was just
// found not to hold these characters (kOwnCharacter: none). Returns the
// stretch's last entry.
template <bool kUtf8>
RingIndex EmitStretch(Analyser& an, int length, bool store,
                      TextSource missing = kOwnCharacter) {
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
    const TextSource source = SourceOf(kind);
    Remember<kUtf8>(an, length, std::string_view(out.text).substr(begin),
                    source, parts, out.symbols.data(), source == missing);
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

// Writes the longest stretch of an attempt walked with outputs.
template <bool kUtf8>
RingIndex EmitAttempt(Analyser& an, bool store) {
  const int length =
      LongestStretch(an.records, an.surface_length, an.automaton->whole_words);
  return EmitStretch<kUtf8>(an, length, store);
}

// Writes the attempt's first character alone, as itself, without a walk
// (a superblank's marker alone writes nothing itself: its text follows).
template <bool kUtf8>
void EmitOwnCharacter(Analyser& an) {
  const RingIndex last = an.start_index;
  const RingEntry& entry = an.reader.ring[last];
  Output& out = an.output;
  const size_t begin = out.text.size();
  if (entry.kind == kCharacter) {
    // Appended without handing over: the event below points into it.
    if (!kUtf8 || entry.length == 1)  // blanks and punctuation, mostly
      out.text.push_back(char(kUtf8 ? entry.raw[0] : entry.byte));
    else
      out.text.append(reinterpret_cast<const char*>(entry.raw), entry.length);
    if (an.options.events)
      NoteEvent(an, PieceKind::kCharacter, last, begin, 0);
  }
  CheckThreshold(out);
  WriteSuperblanksUpTo(an.reader, out, entry.input_number, an.options.events);
  AfterAttempt(an, last);
}

// The rest of writing a remembered stretch (EmitRemembered) when there is
// more to it than its text: its event, its unknown-word line, superblanks
// waiting after it.
template <bool kUtf8>
[[gnu::noinline]] void EmitRememberedRest(Analyser& an, int length,
                                          TextSource source,
                                          const StretchSlot& remembered,
                                          size_t begin) {
  const RingIndex last = RingAdd(an.start_index, length - 1);
  Output& out = an.output;
  if (an.options.events) {
    const uint32_t entry = StretchEntryIndex(an.memory, remembered);
    NoteRememberedEvent(an, KindOf(source), last, begin, entry,
                        an.memory.entries[entry].first_part);
  }
  CheckThreshold(out);
  if (source == kUnknownWord && an.options.unknown_words) {
    if constexpr (kUtf8) {
      BuildEcho(an, length);
      WriteUnknownLine(out, std::string_view(an.echo, an.echo_ends[length - 1]));
    } else {
      WriteUnknownLine(out, std::string_view(an.surface, size_t(length)));
    }
  }
  WriteSuperblanksUpTo(an.reader, out, an.reader.ring[last].input_number,
                       an.options.events);
}

// Writes a stretch of `length` characters without a walk, from the memory's
// `remembered` (written from `source`, not kOwnCharacter). Inline: it is
// most of what a remembered stretch costs. Most of them write their
// text and nothing else: the rest is apart, so that this path, the most
// common of all, keeps few values.
template <bool kUtf8>
[[gnu::always_inline]] inline void EmitRemembered(
    Analyser& an, int length, TextSource source,
    const StretchSlot& remembered) {
  Output& out = an.output;
  const size_t begin = out.text.size();
  AppendText(out.text,
             StretchText(an.memory, remembered,
                         size_t(length) * (kUtf8 ? sizeof an.codes[0] : 1)));
  if (an.options.events || !an.reader.pending_superblanks.empty() ||
      (source == kUnknownWord && an.options.unknown_words)) [[unlikely]]
    EmitRememberedRest<kUtf8>(an, length, source, remembered, begin);
  else
    CheckThreshold(out);
  AfterStretchOf(an, length);
}

// What the attempt's (j+1)-th character holds, as the full walk records it:
// its walk state's flags, with the analysis dropped when it is pieces only
// and a letter was stepped after it.
template <bool kUtf8>
inline uint8_t WalkFlagsAt(const Analyser& an, int j) {
  uint8_t flags = uint8_t(an.walk_entries[j] >> kWalkFlagsShift) & 7;
  if ((flags & kWalkPiecesOnly) && j + 1 < an.surface_length &&
      IsLetter(*an.automaton, MatchingCodeAt<kUtf8>(an, j + 1)))
    flags &= uint8_t(~kWalkAnalysis);
  return flags;
}

// What writes a stretch whose last character holds `flags`.
inline TextSource SourceOfFlags(uint8_t flags) {
  return (flags & kWalkAnalysis)  ? kReading
         : (flags & kWalkUnknown) ? kUnknownWord
                                  : kOwnCharacter;
}

// The characters of the stretch to write, as LongestStretch chooses them
// from the records of the full walk, and in `source` what writes them.
template <bool kUtf8>
int WalkedStretch(const Analyser& an, TextSource& source) {
  const int steps = an.surface_length;
  // Most attempts are a word and the character that ended it, which
  // accepts nothing: the word's last character holds an analysis that no
  // letter after it can drop. Two loads and a compare instead of the
  // search, which was a tenth of the cost of a remembered stretch. A word
  // of one character too, when the one after it accepts no unknown word
  // either (the search below looks for those from the second character on,
  // before it looks at the first).
  constexpr uint32_t kAnalysisBit = uint32_t(kWalkAnalysis) << kWalkFlagsShift;
  constexpr uint32_t kPiecesOnlyBit = uint32_t(kWalkPiecesOnly)
                                      << kWalkFlagsShift;
  constexpr uint32_t kUnknownBit = uint32_t(kWalkUnknown) << kWalkFlagsShift;
  if (steps >= 3 && !an.automaton->whole_words &&
      (an.walk_entries[steps - 1] & kAnalysisBit) == 0 &&
      (an.walk_entries[steps - 2] & (kAnalysisBit | kPiecesOnlyBit)) ==
          kAnalysisBit) {
    source = kReading;
    return steps - 1;
  }
  if (steps == 2 && !an.automaton->whole_words &&
      (an.walk_entries[1] & (kAnalysisBit | kUnknownBit)) == 0 &&
      (an.walk_entries[0] & (kAnalysisBit | kPiecesOnlyBit)) == kAnalysisBit) {
    source = kReading;
    return 1;
  }
  if (an.automaton->whole_words) {
    for (int j = steps - 1; j >= 1; --j) {
      const uint8_t flags = WalkFlagsAt<kUtf8>(an, j);
      if (flags & (kWalkAnalysis | kWalkUnknown)) {
        source = SourceOfFlags(flags);
        return j + 1;
      }
    }
  } else {
    // The last analysis from the second character on, else the last
    // unknown word: one pass back, noting the last unknown word on the way.
    int unknown_length = 0;
    for (int j = steps - 1; j >= 1; --j) {
      const uint8_t flags = WalkFlagsAt<kUtf8>(an, j);
      if (flags & kWalkAnalysis) {
        source = kReading;
        return j + 1;
      }
      if (unknown_length == 0 && (flags & kWalkUnknown)) unknown_length = j + 1;
    }
    if (unknown_length != 0) {
      source = kUnknownWord;
      return unknown_length;
    }
  }
  source = SourceOfFlags(WalkFlagsAt<kUtf8>(an, 0));
  return 1;
}

// Walks the attempt's first `length` characters with outputs and records
// what the last one holds, written from `source`.
template <bool kUtf8>
void WalkStretchWithOutputs(Analyser& an, int length, TextSource source) {
  // StepOutputs over each character, its case flags kept in locals.
  StartWalk(an);
  LiveStates& v = an.live_states;
  int first_upper = 0, latest_upper = 0;
  // A list of plans.min_list states or more is stepped by a plan named by
  // the walk state it is in (engine/live_states.h): the transition taken
  // before the character holds both.
  const uint32_t min_list = v.plans.min_list;
  uint32_t before = 0;  // before the first: the start, never planned
  for (int j = 0; j < length; ++j) {
    const int c = MatchingCodeAt<kUtf8>(an, j);
    int upper = 0;
    if (c >= 0) [[likely]] {
      if ((before >> kListSizeShift) >= min_list)
        upper = StepAndCloseByPlan(v, before & kWalkStateMask, c);
      else
        upper = StepAndCloseLiveStates(v, c);
    } else {
      ClearLiveStates(v);  // no move reads it
    }
    before = an.walk_entries[j];
    if (j == 0) first_upper = upper;
    latest_upper = upper;
  }
  an.surface_length = length;
  an.first_upper = first_upper;
  an.latest_upper = latest_upper;
  RecordLatest(an);
  StepRecord& record = an.records.steps[length - 1];
  // A letter after it dropped a pieces-only analysis.
  if (source == kUnknownWord) record.analysis.present = false;
  assert(source != kReading || record.analysis.present);
  assert(source != kUnknownWord || record.unknown.present);
}

// Stores the ring entries that the walk over the block left unstored
// (Analyser::unstored_entries) of the attempt's characters from the
// (from+1)-th on; those before it are never read. Latin-1 only. Apart: it
// runs for first-seen stretches and the few attempts written as their own
// first character.
[[gnu::noinline]] void StoreWalkedEntries(Analyser& an, int from) {
  const int steps = an.surface_length;
  const int unstored = an.unstored_entries;
  assert(unstored <= steps);
  int k = std::max(from, steps - unstored);
  uint64_t number = an.unstored_last_number - uint64_t(steps - 1 - k);
  for (; k < steps; ++k, ++number) {
    RingEntry& entry = an.reader.ring[RingAdd(an.start_index, k)];
    entry.kind = kCharacter;
    entry.byte = uint8_t(an.surface[k]);
    entry.input_number = number;
  }
  an.unstored_entries = 0;
}

// EmitWalked for a stretch written as its own first character. Apart, as
// the next: the write of a remembered stretch then keeps its values in
// registers.
template <bool kUtf8>
[[gnu::noinline]] void EmitWalkedOwnCharacter(Analyser& an) {
  if (!kUtf8 && an.unstored_entries != 0) StoreWalkedEntries(an, 0);
  EmitOwnCharacter<kUtf8>(an);
}

// EmitWalked for a stretch the memory does not hold: walked with outputs,
// written and kept.
template <bool kUtf8>
[[gnu::noinline]] void EmitWalkedFirstSeen(Analyser& an, int length,
                                           TextSource source) {
  if constexpr (!kUtf8) {
    if (an.unstored_entries != 0) StoreWalkedEntries(an, 0);
  }
  WalkStretchWithOutputs<kUtf8>(an, length, source);
  EmitStretch<kUtf8>(an, length, true, source);
}

// The deterministic walk of the attempt ended: writes its stretch, from
// the memory when it holds it, else walking the stretch with outputs.
template <bool kUtf8>
void EmitWalked(Analyser& an) {
  TextSource source;
  const int length = WalkedStretch<kUtf8>(an, source);
  if (source == kOwnCharacter) {
    assert(length == 1);
    EmitWalkedOwnCharacter<kUtf8>(an);
    return;
  }
  const StretchSlot* e =
      FindStretch(an.memory, MakeQuery(StretchKey<kUtf8>(an, length), source));
  if (e == nullptr) [[unlikely]] {
    EmitWalkedFirstSeen<kUtf8>(an, length, source);
    return;
  }
  EmitRemembered<kUtf8>(an, length, source, *e);
}

// Hands the attempt under way to the full walk, which steps it again from
// its start and goes on from there.
template <bool kUtf8>
void LeaveWalk(Analyser& an) {
  an.following_dfa = false;
  if (an.dfa.broken) an.use_dfa = false;
  StepRememberedPrefix<kUtf8>(an);
  if (an.live_states.states.empty() ||
      an.surface_length == kMaxAttemptCharacters)
    EmitAttempt<kUtf8>(an, an.use_dfa);
}

// What one character did to the deterministic walk.
enum WalkOutcome : uint8_t {
  kWalkGoesOn,  // the attempt goes on
  kWalkEnded,   // the attempt ended with it: EmitWalked
  kWalkLeft,    // the walk cannot stand for the full walk: LeaveWalk
  kWalkWritten,  // attempts ended and were written where they were walked
};

// Whether the walk may go on after a transition whose list size was
// added to an.path_total: a large list's exact size is added here, and the
// sum must stay within what the full walk never fails on
// (PathBoundLimit). kGiveUp ends the walk of this attempt.
inline bool WithinLimits(Analyser& an, uint32_t entry) {
  if ((entry >> kListSizeShift) == kLargeList) {
    const uint32_t next = entry & kWalkStateMask;
    if (next == kNoWalkState) return false;
    an.path_total += an.dfa.states[next].live_count - kLargeList;
  }
  return an.path_total <= an.path_bound_limit;
}

// For the walks over a block, which keep the sum of list sizes in a local
// (`total`): adds the list size of transition `step` and says, as
// WithinLimits, whether the walk may go on.
[[gnu::always_inline]] inline bool AddWithinLimits(Analyser& an,
                                                   uint64_t& total,
                                                   uint32_t step) {
  total += step >> kListSizeShift;
  if (step < kGiveUp) [[likely]]
    return true;  // neither a large list nor a missing state
  an.path_total = total;
  const bool within = WithinLimits(an, step);
  total = an.path_total;
  return within;
}

// Steps the deterministic walk over the attempt's next character, of code
// `c` (a byte in Latin-1; a character code in UTF-8).
template <bool kUtf8>
inline WalkOutcome WalkCharacter(Analyser& an, int c) {
  const int j = an.surface_length++;
  NoteCharacter<kUtf8>(an, j, c);
  const int matching = kUtf8 ? MatchingCode(c) : c;
  const uint32_t entry =
      matching >= 0 ? WalkStepFrom(an.dfa, an.walk_into, matching)
                    : kDeadState;
  an.path_total += entry >> kListSizeShift;
  if (an.path_total > an.path_bound_limit ||
      (entry >> kListSizeShift) == kLargeList) [[unlikely]] {
    if (!WithinLimits(an, entry)) return kWalkLeft;
  }
  const uint32_t next = entry & kWalkStateMask;
  an.walk_entries[j] = entry;
  an.walk_into = entry;
  return next == kDeadState || an.surface_length == kMaxAttemptCharacters
             ? kWalkEnded
             : kWalkGoesOn;
}

// Acts on a walk outcome; returns true when the attempt ended or left the
// walk.
template <bool kUtf8>
inline bool AfterWalkCharacter(Analyser& an, WalkOutcome outcome) {
  if (outcome == kWalkGoesOn) return false;
  if (outcome == kWalkEnded)
    EmitWalked<kUtf8>(an);
  else
    LeaveWalk<kUtf8>(an);
  return true;
}

// Starts an attempt at entry `index`.
inline void BeginAttempt(Analyser& an, RingIndex index) {
  an.at_attempt_start = false;
  an.start_index = index;
  an.surface_length = 0;
  an.following_dfa = an.use_dfa;
  an.walk_into = an.dfa.start_into;
  an.path_total = 0;
  if (!an.following_dfa) StartWalk(an);
}

// Starts an attempt at entry `index` when none is under way; says whether
// the attempt is on the deterministic walk.
inline bool FollowsWalk(Analyser& an, RingIndex index) {
  if (an.at_attempt_start) BeginAttempt(an, index);
  return an.following_dfa;
}

// Whether a character that starts an attempt and that no path reads may be
// written as itself here, without the attempt's bookkeeping: it is then
// the whole attempt and its stretch. Not when a superblank waits to follow
// a stretch, or the attempt after it (at input offset `offset_after`)
// would reach the stepping call's limit. Most blanks and punctuation go
// this way.
inline bool LoneCharacterFits(const Analyser& an, uint64_t offset_after) {
  return an.reader.pending_superblanks.empty() && offset_after < an.limit;
}

// Describes the `length` bytes just written, from `begin` on, as the
// character at input offset `input_begin` written as it came.
inline void NoteLoneCharacter(Output& out, size_t begin, uint64_t input_begin,
                              int length) {
  Event event;
  event.kind = PieceKind::kCharacter;
  event.input_begin = input_begin;
  event.input_end = input_begin + uint64_t(length);
  event.output_begin = uint32_t(begin);
  event.output_end = uint32_t(out.text.size());
  out.events.push_back(event);
}

// Writes byte `c` as a stretch of its own (see LoneCharacterFits).
inline void WriteLoneCharacter(Analyser& an, uint8_t c) {
  AppendByte(an.output.text, char(c));
  CheckThreshold(an.output);
}

// WriteLoneCharacter with its event, for the character at input offset
// `input_begin`. Apart, so that the walk over the block keeps its
// registers without events (a call where the event costs more anyway).
[[gnu::noinline]] void WriteLoneCharacterAndEvent(Analyser& an, uint8_t c,
                                                  uint64_t input_begin) {
  Output& out = an.output;
  AppendByte(out.text, char(c));
  NoteLoneCharacter(out, out.text.size() - 1, input_begin, 1);
  CheckThreshold(out);
}

// The transition that starts an attempt on the character of code `code` (a
// byte in Latin-1; a character code in UTF-8): the dead state for one that
// no path reads, a character outside every alphabet included.
template <bool kUtf8>
inline uint32_t StartTransition(LazyDfa& d, int code) {
  const int matching = kUtf8 ? MatchingCode(code) : code;
  return matching >= 0 ? StartStep(d, matching) : kDeadState;
}

// Writes the character of ring entry `entry` as a stretch of its own (see
// LoneCharacterFits): in UTF-8 mode, its input bytes.
template <bool kUtf8>
inline void WriteLoneEntry(Analyser& an, const RingEntry& entry) {
  if constexpr (!kUtf8) {
    if (an.options.events)
      WriteLoneCharacterAndEvent(an, entry.byte, entry.input_number - 1);
    else
      WriteLoneCharacter(an, entry.byte);
  } else {
    Output& out = an.output;
    const size_t begin = out.text.size();
    // Blanks and punctuation, mostly: one byte.
    for (int k = 0; k < entry.length; ++k)
      AppendByte(out.text, char(entry.raw[k]));
    if (an.options.events)
      NoteLoneCharacter(out, begin, entry.input_number - 1, entry.length);
    CheckThreshold(out);
  }
}

// UTF-8 mode: walks the characters already in the scanner's block, from
// its next byte (plain, and not '<'): ASCII bytes directly, other
// characters when they are whole and valid there; an invalid unit or one
// the block cuts is left to the reader. Stores them in the ring as the
// reader would; returns the outcome of the last character walked
// (kWalkGoesOn too when none was, with `taken` 0). A character that starts
// an attempt and that no path reads is written here as itself, as in
// Latin-1 (WalkBlock).
WalkOutcome WalkBlockUtf8(Analyser& an, int& taken) {
  Reader& reader = an.reader;
  Scanner& scanner = an.scanner;
  const char* bytes = scanner.block.data() + scanner.next;
  const size_t available = scanner.end - scanner.next;
  const uint64_t first_number = ScannerOffset(scanner) + 1;  // of bytes[0]
  WalkOutcome outcome = kWalkGoesOn;
  size_t i = 0;
  int characters = 0;
  while (i < available) {
    const uint8_t b = uint8_t(bytes[i]);
    uint32_t code;
    int length = 1;
    RingIndex index;
    if (b < 0x80) {
      if (b == '<') break;
      index = StoreCharacterInRun(reader, b, kLatin1Character, bytes + i, 1,
                                  first_number + i);
      code = b;
    } else {
      uint32_t code_point;
      length = Utf8Unit(reinterpret_cast<const uint8_t*>(bytes) + i,
                        available - i, false, code_point);
      if (length <= 0) break;
      uint8_t matching;
      const CharacterVariant variant = ClassifyCodePoint(code_point, matching);
      index = StoreCharacterInRun(reader, matching, variant, bytes + i,
                                  length, first_number + i);
      code = variant == kLatin1Character ? matching
                                         : uint32_t(kVariantCodeBase + variant);
    }
    i += size_t(length);
    ++characters;
    if (an.surface_length == 0) {
      // The offset after it is first_number - 1 + i.
      if (StartTransition<true>(an.dfa, int(code)) == kDeadState &&
          LoneCharacterFits(an, first_number + i - 1)) {
        WriteLoneEntry<true>(an, reader.ring[index]);
        continue;
      }
      an.start_index = index;
    }
    outcome = WalkCharacter<true>(an, int(code));
    if (outcome != kWalkGoesOn) break;
  }
  if (characters > 0) ClearWriteEntry(reader);
  scanner.next += i;
  taken = characters;
  // Lone characters ended the attempts they started: none is under way.
  if (an.surface_length == 0) an.at_attempt_start = true;
  return outcome;
}

// The index in the scanner's block of the first '<' from its next byte on,
// or of the block's end when none is there. The search is kept
// (Analyser::plain_from, plain_to) and goes on only past where it ended,
// so each byte is searched once however often the walk over the block
// starts again.
size_t PlainEnd(Analyser& an) {
  const Scanner& scanner = an.scanner;
  const uint64_t at = ScannerOffset(scanner);
  const uint64_t block_end = scanner.block_offset + scanner.end;
  if (at < an.plain_from || at > an.plain_to) {
    an.plain_from = an.plain_to = at;
    an.plain_to_is_lt = false;
  }
  if (!an.plain_to_is_lt && an.plain_to < block_end) {
    const char* const block = scanner.block.data();
    const char* const from = block + (an.plain_to - scanner.block_offset);
    const void* lt = std::memchr(from, '<', size_t(block_end - an.plain_to));
    if (lt != nullptr) {
      an.plain_to = scanner.block_offset +
                    uint64_t(static_cast<const char*>(lt) - block);
      an.plain_to_is_lt = true;
    } else {
      an.plain_to = block_end;
    }
  }
  assert(an.plain_to <= block_end);
  return size_t(an.plain_to - scanner.block_offset);
}

// Notes that the last `unstored` characters of the attempt the walk over
// the block ended or stops at, the last of input number `last_number`,
// have no ring entry yet (see Analyser::unstored_entries).
inline void CloseWalkedAttempt(Analyser& an, size_t unstored,
                               uint64_t last_number) {
  an.unstored_entries = int(unstored);
  an.unstored_last_number = last_number;
}

// Stores the ring entries the walk over the block left unstored
// (Analyser::unstored_entries) of the `back` characters to read again
// after a written attempt: the last ones walked, up to `end` in the block,
// the last of input number `end_number`, their entries up to `write`.
[[gnu::noinline]] void StoreRereads(Analyser& an, RingIndex write,
                                    size_t back, const uint8_t* end,
                                    uint64_t end_number) {
  const size_t n = std::min(back, size_t(an.unstored_entries));
  an.unstored_entries = 0;
  const uint8_t* from = end - n;
  uint64_t number = end_number - n + 1;
  for (RingIndex i = RingAdd(write, -int(n)); i != write;
       i = RingAdd(i, 1), ++from, ++number) {
    RingEntry& entry = an.reader.ring[i];
    entry.kind = kCharacter;
    entry.byte = *from;
    entry.input_number = number;
  }
}

// The sum of the list sizes of the attempt's first `n` transitions as
// they hold them (kLargeList for a large list).
inline uint64_t ListSizes(const Analyser& an, size_t n) {
  uint64_t sum = 0;
  for (size_t k = 0; k < n; ++k) sum += an.walk_entries[k] >> kListSizeShift;
  return sum;
}

// The walk over the block's WithinLimits for transition `step` of the
// attempt's (n+1)-th character, which is a large list or no state: the
// walk keeps in `extra` only what large lists add to the sizes their
// transitions hold, and an.path_total is made exact here.
[[gnu::noinline]] bool LargeListWithinLimits(Analyser& an, uint64_t& extra,
                                             size_t n, uint32_t step) {
  const uint64_t held = ListSizes(an, n) + (step >> kListSizeShift);
  an.path_total = extra + held;
  const bool within = WithinLimits(an, step);
  extra = an.path_total - held;
  return within;
}

// WalkBlock for runs whose writes read the ring entries of the characters
// they write (events, a limit to the stepping call, a superblank waiting):
// each character is stored in the ring as it is read, as the reader would
// store it, so every entry is there when an attempt is written. Apart from
// WalkBlock so that each loop keeps its own registers.
[[gnu::noinline]] WalkOutcome WalkBlockStoring(Analyser& an) {
  Reader& reader = an.reader;
  LazyDfa& d = an.dfa;
  Scanner& scanner = an.scanner;
  const uint8_t* const block =
      reinterpret_cast<const uint8_t*>(scanner.block.data());
  const uint8_t* p = block + scanner.next;
  const uint8_t* const end = block + PlainEnd(an);
  if (p == end) return kWalkGoesOn;
  uint64_t number = ScannerOffset(scanner) + 1;  // of *p
  RingIndex write = reader.write_index;
  size_t j = size_t(an.surface_length);  // unsigned: no widening per use
  // The last transition taken, into the walk state under way (the dead
  // state's transition is kDeadState itself).
  uint32_t step = an.walk_into;
  const uint64_t bound = an.path_bound_limit;
  // The sum of list sizes, as in WalkBlock: only what large lists add to
  // the sizes the transitions hold is kept.
  uint64_t extra = an.path_total - ListSizes(an, j);
  const bool small_bound =
      bound < uint64_t(kMaxAttemptCharacters) * kLargeList;
  // Lone characters are written here while no attempt after one can reach
  // the stepping call's limit (see LoneCharacterFits).
  uint64_t lone_before = LoneCharacterFits(an, 0) ? an.limit : 0;
  const KeptTransition* table = d.transitions.data();
  size_t mask = d.transitions.size() - 1;
  // What the reader and the attempt hold, as the rest of the loop sees them.
  const auto sync = [&] {
    reader.write_index = write;
    reader.read_fresh = true;
    ClearWriteEntry(reader);
    scanner.next = size_t(p - block);
    an.surface_length = int(j);
    an.walk_into = step;
  };
  const uint8_t* const first = p;
  bool again = false;  // the last character read starts the next attempt
  size_t c = 0;  // the byte read, at the width of an index
  // Stores the next byte's ring entry as the reader would, and reads it.
  const auto read = [&]() __attribute__((always_inline)) {
    c = *p;
    RingEntry& entry = reader.ring[write];
    entry.kind = kCharacter;
    entry.byte = uint8_t(c);
    entry.input_number = number;
    ++p;
    ++number;
    write = RingAdd(write, 1);
  };
  for (;;) {
    if (j == 0) {
      // Between attempts: lone characters, then the next attempt's first.
      for (;;) {
        if (!again) {
          if (p == end) goto block_end;
          read();
        }
        again = false;
        step = d.start_row[c];
        if (step == 0) [[unlikely]] {
          step = StartStep(d, int(c));
          table = d.transitions.data();
          mask = d.transitions.size() - 1;
        }
        // The offset after it is its input number.
        if (step != kDeadState || number - 1 >= lone_before) break;
        // Its input offset is its input number less one.
        if (an.options.events) [[unlikely]]
          WriteLoneCharacterAndEvent(an, uint8_t(c), number - 2);
        else
          WriteLoneCharacter(an, uint8_t(c));
      }
      an.start_index = RingAdd(write, -1);
      an.surface[0] = char(c);
      if (step >= kGiveUp) [[unlikely]] {
        if (!LargeListWithinLimits(an, extra, 0, step)) goto leave;
      }
      an.walk_entries[0] = step;
      j = 1;
      if (step == kDeadState) goto attempt_end;
    }
    {
      // The attempt's next characters, up to the block's end or the most an
      // attempt may have.
      const size_t limit = std::min(size_t(end - p) + j,
                                    size_t(kMaxAttemptCharacters));
      while (j != limit) {
        read();
        const uint32_t next = WalkStepIn(d, table, mask, step, c);
        an.surface[j] = char(c);
        // As in WalkBlock: one compare for the dead state, a large list
        // and no state.
        if (next - kStartState >= kGiveUp - kStartState) [[unlikely]] {
          if (next == kDeadState) {
            an.walk_entries[j++] = next;
            step = next;
            goto attempt_end;
          }
          if (!LargeListWithinLimits(an, extra, j, next)) goto leave;
        }
        step = next;
        an.walk_entries[j++] = step;
      }
      if (j != kMaxAttemptCharacters) goto block_end;
    }
  attempt_end:
    sync();
    an.at_attempt_start = false;
    if ((extra != 0 || small_bound) &&
        extra + ListSizes(an, j) > bound) [[unlikely]] {
      an.path_total = extra + ListSizes(an, j);
      return kWalkLeft;
    }
    EmitWalked<false>(an);
    if (step != kDeadState || an.stop || !an.use_dfa) return kWalkWritten;
    {
      // Go on here when the characters to read again are the last ones
      // read here: the character that ended the attempt starts the next
      // one, and two or more (a word followed by a blank and the start of a
      // longer entry, mostly) are walked again from the block, their ring
      // entries stored again as they were.
      const size_t back = RingAdd(write, -int(reader.reread_index));
      if (back != 1) {
        if (back > size_t(p - first)) return kWalkWritten;
        p -= back;
        number -= back;
        write = reader.reread_index;
      }
      again = back == 1;
    }
    reader.read_fresh = true;
    j = 0;
    extra = 0;
    // Writing the attempt can only have written superblanks that waited.
    if (lone_before == 0 && LoneCharacterFits(an, 0)) lone_before = an.limit;
  }
leave:
  // The walk cannot stand for the full walk on this attempt (an.path_total
  // as LargeListWithinLimits left it).
  ++j;
  sync();
  an.at_attempt_start = false;
  return kWalkLeft;
block_end:
  if (p != first) sync();
  if (j != 0) an.path_total = extra + ListSizes(an, j);
  // Lone characters ended the attempts they started: none is under way.
  an.at_attempt_start = j == 0;
  return kWalkGoesOn;
}

// Latin-1: walks the plain bytes in the scanner's block from its next one,
// up to a '<' or the block's end, as the reader would deliver them.
// Attempts that end here are written here, and when the character that
// ended one is all there is to read again (a word and the blank or
// punctuation after it, mostly), that character starts the next attempt
// here too, as FollowWalk would start it: so the loop runs from attempt to
// attempt without a trip through the reader. It returns kWalkWritten when
// it stops after writing an attempt, with characters to read again or the
// stepping call to leave; kWalkLeft when the attempt under way must take
// the full walk; kWalkGoesOn when it is under way or none is (nothing
// left to walk here).
//
// Runs only where the write of a remembered stretch reads no ring entry
// (no events, no limit to the stepping call, no superblank waiting;
// WalkBlockStoring otherwise), so the ring is not written as the
// characters are read: the block holds them, and their input numbers
// follow from where they lie in it. An attempt's entries are stored only
// when something reads them (Analyser::unstored_entries): a first-seen
// stretch, the loop outside going on with characters to read again or
// with the attempt. A lone character (written as itself) gets no entry.
//
// Most of the text is read here, so the walk's state, the transition table
// included, is kept in locals: stores through byte pointers would otherwise
// make the compiler read every field again after each character, and the
// loop runs short of registers. The table is read again after a transition
// was built, which may move it. Not inlined: alone, the loop keeps its
// locals in registers. For the same reason the sum of list sizes is
// compared with its bound once the attempt ends rather than at every
// character (only a large list is looked at as it comes): an attempt whose
// sum passed it is handed to the full walk then, which steps it again from
// its start and stops where it would have stopped. And the sum itself is
// not kept: the transitions stored in an.walk_entries hold the list sizes,
// and past the large lists' extra size (`extra`), an attempt's sum is at
// most kMaxAttemptCharacters * kLargeList, below the bound unless the
// limits were set low: only then, or after a large list, is it added up.
[[gnu::noinline]] WalkOutcome WalkBlock(Analyser& an) {
  Reader& reader = an.reader;
  LazyDfa& d = an.dfa;
  Scanner& scanner = an.scanner;
  const uint8_t* const block =
      reinterpret_cast<const uint8_t*>(scanner.block.data());
  const uint8_t* p = block + scanner.next;
  const uint8_t* const end = block + PlainEnd(an);
  if (p == end) return kWalkGoesOn;
  const uint64_t block_offset = scanner.block_offset;
  // Where the next attempt's first entry goes; while one is under way, its
  // entries follow an.start_index.
  RingIndex write = reader.write_index;
  size_t j = size_t(an.surface_length);  // unsigned: no widening per use
  // Characters of the attempt under way that the ring holds already: those
  // read before this walk.
  size_t stored = j;
  assert(j == 0 || RingAdd(an.start_index, int(j)) == write);
  assert(an.unstored_entries == 0);
  // Every character that starts an attempt and that no path reads is
  // written as itself (see LoneCharacterFits: no limit, no superblank).
  assert(!an.options.events && an.limit == UINT64_MAX &&
         reader.pending_superblanks.empty());
  const uint64_t bound = an.path_bound_limit;
  // The last transition taken, into the walk state under way: the state
  // is taken from it where needed only. The dead state's transition is
  // kDeadState itself.
  uint32_t step = j != 0 ? an.walk_into : 0;
  // What large lists added to the list sizes the attempt's transitions
  // hold, and whether the sum of those can pass the bound.
  uint64_t extra = an.path_total - ListSizes(an, j);
  const bool small_bound =
      bound < uint64_t(kMaxAttemptCharacters) * kLargeList;
  const KeptTransition* table = d.transitions.data();
  size_t mask = d.transitions.size() - 1;
  // What the reader and the attempt hold, as the rest of the loop sees them.
  const auto sync = [&]() __attribute__((always_inline)) {
    reader.write_index = write;
    reader.read_fresh = true;
    ClearWriteEntry(reader);
    scanner.next = size_t(p - block);
    an.surface_length = int(j);
    an.walk_into = step;
  };
  const uint8_t* const first = p;
  size_t c = 0;  // the byte read, at the width of an index
  for (;;) {
    if (j == 0) {
      // Between attempts: characters that no path reads are written as
      // themselves until one starts an attempt.
      for (;;) {
        if (p == end) goto block_end;
        c = *p++;
        step = d.start_row[c];
        // One compare for the two rare values: not taken yet, and the dead
        // state (a lone character).
        static_assert(kDeadState == 1);
        if (step > kDeadState) [[likely]]
          break;
        if (step == 0) [[unlikely]] {
          step = StartStep(d, int(c));
          table = d.transitions.data();
          mask = d.transitions.size() - 1;
          if (step != kDeadState) break;
        }
        WriteLoneCharacter(an, uint8_t(c));
      }
      an.start_index = write;
      an.surface[0] = char(c);
      if (step >= kGiveUp) [[unlikely]] {
        if (!LargeListWithinLimits(an, extra, 0, step)) goto leave;
      }
      an.walk_entries[0] = step;
      j = 1;
      if (step == kDeadState) goto attempt_end;
    }
    {
      // The attempt's next characters, up to the block's end or the most an
      // attempt may have.
      const size_t limit = std::min(size_t(end - p) + j,
                                    size_t(kMaxAttemptCharacters));
      while (j != limit) {
        c = *p++;
        const uint32_t next = WalkStepIn(d, table, mask, step, c);
        an.surface[j] = char(c);
        // One compare for the rare values: the dead state (its transition
        // is kDeadState alone), a large list and no state.
        static_assert(kDeadState == 1 && kStartState == 2);
        if (next - kStartState >= kGiveUp - kStartState) [[unlikely]] {
          if (next == kDeadState) {
            an.walk_entries[j++] = next;
            step = next;
            goto attempt_end;
          }
          if (!LargeListWithinLimits(an, extra, j, next)) goto leave;
        }
        step = next;
        an.walk_entries[j++] = step;
      }
      if (j != kMaxAttemptCharacters) goto block_end;
    }
  attempt_end:
    write = RingAdd(an.start_index, int(j));
    CloseWalkedAttempt(an, j - stored, block_offset + uint64_t(p - block));
    if ((extra != 0 || small_bound) &&
        extra + ListSizes(an, j) > bound) [[unlikely]] {
      sync();
      an.path_total = extra + ListSizes(an, j);
      an.at_attempt_start = false;
      StoreWalkedEntries(an, 0);
      return kWalkLeft;
    }
    {
      // What writing the attempt reads; the rest of the reader and the walk
      // are brought up to date only when this walk stops (the offset, also
      // when the sink stops the analysis).
      an.surface_length = int(j);
      scanner.next = size_t(p - block);
      EmitWalked<false>(an);
      // `back` is 0 when the attempt was its first character alone, written
      // as itself. An attempt as long as an attempt may be may have ended
      // alive: the loop outside goes on with it.
      const size_t back = RingAdd(write, -int(reader.reread_index));
      // No limit: the stepping call never stops at a boundary here.
      assert(!an.stop);
      if (j == kMaxAttemptCharacters || !an.use_dfa ||
          back > size_t(p - first)) [[unlikely]] {
        reader.write_index = write;
        ClearWriteEntry(reader);
        if (an.unstored_entries != 0)
          StoreRereads(an, write, back, p, block_offset + uint64_t(p - block));
        return kWalkWritten;
      }
      // Go on here when the characters to read again are the last ones
      // read here: the character that ended the attempt (a blank or
      // punctuation, mostly) or more (a word followed by a blank and the
      // start of a longer entry) are walked again from the block.
      an.unstored_entries = 0;
      p -= back;
    }
    write = reader.reread_index;
    j = 0;
    stored = 0;
    extra = 0;
    step = 0;
  }
leave:
  // The walk cannot stand for the full walk on this attempt (an.path_total
  // as LargeListWithinLimits left it).
  ++j;
  write = RingAdd(an.start_index, int(j));
  CloseWalkedAttempt(an, j - stored, block_offset + uint64_t(p - block));
  sync();
  StoreWalkedEntries(an, 0);
  an.at_attempt_start = false;
  return kWalkLeft;
block_end:
  // Something was read: p is at the end, where it did not start.
  if (j != 0) {  // an attempt under way: the reader goes on with it
    write = RingAdd(an.start_index, int(j));
    CloseWalkedAttempt(an, j - stored, block_offset + uint64_t(p - block));
  }
  sync();
  if (j != 0) {
    an.path_total = extra + ListSizes(an, j);
    StoreWalkedEntries(an, 0);
  }
  // Lone characters ended the attempts they started: none is under way.
  an.at_attempt_start = j == 0;
  return kWalkGoesOn;
}

// Walks the characters to be read again from the ring and the plain bytes
// already in the scanner's block (stored in the ring as the reader would
// store them) on the deterministic walk, without a trip through the reader
// and the loop for every character: most of the text is read here. Runs
// only while the attempt (new, or so far walked here) is on that walk.
// Returns true when the attempt ended or left the walk here; false when
// the loop is to take the next character itself (a superblank, the end of
// the input, a '<', the end of the block, or no such walk to make).
template <bool kUtf8>
bool FollowWalk(Analyser& an) {
  if (!an.use_dfa) return false;
  Reader& reader = an.reader;
  // Characters read again from the ring.
  while (!reader.read_fresh) {
    const RingEntry& entry = reader.ring[reader.reread_index];
    if (entry.kind == kEmpty) break;  // the next one comes fresh
    if (entry.kind != kCharacter) return false;
    if (an.at_attempt_start &&
        StartTransition<kUtf8>(an.dfa, kUtf8 ? CharacterCode(entry)
                                             : entry.byte) == kDeadState &&
        LoneCharacterFits(an, an.limit == UINT64_MAX
                                  ? 0
                                  : OffsetAfter(an, reader.reread_index))) {
      WriteLoneEntry<kUtf8>(an, entry);
      reader.reread_index = RingAdd(reader.reread_index, 1);
      continue;
    }
    if (!FollowsWalk(an, reader.reread_index)) return false;
    reader.reread_index = RingAdd(reader.reread_index, 1);
    const int code = kUtf8 ? CharacterCode(entry) : entry.byte;
    if (AfterWalkCharacter<kUtf8>(an, WalkCharacter<kUtf8>(an, code)))
      return true;
  }
  // Plain bytes already in the scanner's block.
  Scanner& scanner = an.scanner;
  if (!PlainByteAt(scanner, scanner.next) ||
      !FollowsWalk(an, reader.write_index))
    return false;
  if constexpr (kUtf8) {
    int taken = 0;
    const WalkOutcome outcome = WalkBlockUtf8(an, taken);
    if (taken == 0) return false;  // a character for the reader to decode
    return AfterWalkCharacter<kUtf8>(an, outcome);
  }
  // Whether the write of a remembered stretch reads ring entries: then
  // they are all stored as they are walked. No superblank comes while the
  // block is walked.
  const bool store_all = an.options.events ||
                         !reader.pending_superblanks.empty() ||
                         an.limit != UINT64_MAX;
  const WalkOutcome outcome =
      store_all ? WalkBlockStoring(an) : WalkBlock(an);
  return outcome == kWalkWritten || AfterWalkCharacter<kUtf8>(an, outcome);
}

// The loop, until the input ends or the limit is reached.
template <bool kUtf8>
void Run(Analyser& an) {
  Reader& reader = an.reader;
  for (;;) {
    if (an.stop) [[unlikely]]
      return;
    if (FollowWalk<kUtf8>(an)) continue;
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
      if (an.following_dfa) {
        an.following_dfa = false;
        StepRememberedPrefix<kUtf8>(an);
      }
      const RingIndex last = EmitAttempt<kUtf8>(an, false);
      if (reader.ring[RingAdd(last, 1)].kind == kEndOfInputMark) {
        an.finished = !an.stop;
        return;
      }
      continue;
    }
    if (an.at_attempt_start) BeginAttempt(an, index);
    if (an.following_dfa) {
      AfterWalkCharacter<kUtf8>(an, WalkCharacter<kUtf8>(an, c));
      continue;
    }
    NoteCharacter<kUtf8>(an, an.surface_length++, c);
    StepCharacter(an, kUtf8 ? MatchingCode(c) : c);
    if (an.live_states.states.empty() ||
        an.surface_length == kMaxAttemptCharacters)
      EmitAttempt<kUtf8>(an, an.use_dfa);
  }
}

// Hands over what was written before a failure, so that it is not lost;
// a sink that refuses it changes nothing more.
void DeliverBeforeFailure(Analyser& an) {
  try {
    DeliverLast(an.output);
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
  KeepPreviousBatch(out, options.keep_previous_batch);
  // What was gathered before is gone: no event may point at it.
  ++out.batches;
  if (options.events)
    an.events_in_batch.resize(Analyser::kEventsInBatchSlots);
  // What the memory holds depends on the dictionary and on the options that
  // shape the output; the deterministic walk, on the dictionary alone.
  const bool new_dictionary = an.live_states.automaton != automaton;
  if (new_dictionary) InitLiveStates(an.live_states, automaton);
  an.use_dfa = DfaUsable(*automaton);
  try {
    if (new_dictionary || an.dfa.automaton != automaton || an.dfa.broken)
      ResetDfa(an.dfa, automaton);
    if (new_dictionary || !SameOutputOptions(an.memory_options, options))
      ClearMemory(an.memory);
  } catch (const std::bad_alloc&) {
    DropFastPath(an);
  }
  an.memory_options = options;
  an.path_bound_limit = PathBoundLimit(an);
  an.at_attempt_start = true;
  an.first_upper = an.latest_upper = 0;
  an.surface_length = 0;
  an.start_index = 0;
  an.following_dfa = false;
  an.plain_from = 1;
  an.plain_to = 0;
  an.plain_to_is_lt = false;
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
    DeliverLast(an.output);
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
