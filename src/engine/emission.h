// Longest-match selection and emission.
//
// When an attempt ends, LongestStretch picks the furthest character the
// attempt stepped that holds a reading (analyses before unknown-word
// readings, the attempt's first character as the last resort), and
// RenderStretch gives the bytes that stretch writes: its analysis, its
// unknown-word reading, or its own byte. Then every waiting superblank whose
// marker lies in the stretch just written follows, in input order, so blocks
// of formatting come out in their places.
//
// A dictionary may ask for unknown words to be read whole
// (Automaton::whole_words): then an unknown-word reading competes with the
// analyses on length, and a known word at the start of an unknown one no
// longer cuts it.

#ifndef ETIQUEM_ENGINE_EMISSION_H_
#define ETIQUEM_ENGINE_EMISSION_H_

#include <string>
#include <string_view>

#include "engine/acceptance.h"
#include "engine/live_states.h"
#include "engine/output.h"
#include "engine/reader.h"

namespace etiquem {

// What the texts of an attempt's records are rendered from: its output
// arena, its acceptance list and its surface.
struct RecordSources {
  const LiveStates* live_states = nullptr;
  Acceptances* acceptances = nullptr;
  const char* surface = nullptr;  // the attempt's characters (matching bytes)
  // UTF-8 mode: readings are written as UTF-8, and what is echoed is the
  // input's own bytes: `echo`, where the attempt's (j+1)-th character ends
  // at echo_ends[j]. Latin-1 mode: null, and the surface is echoed.
  const char* echo = nullptr;
  const uint16_t* echo_ends = nullptr;
};

// The input bytes of the attempt's first `n` characters (n >= 1).
inline std::string_view EchoOf(const RecordSources& sources, int n) {
  if (sources.echo == nullptr) return std::string_view(sources.surface, size_t(n));
  return std::string_view(sources.echo, sources.echo_ends[n - 1]);
}

// The characters of the stretch to write (1 to `steps`), for an attempt
// that stepped `steps` characters (at least 1). Only the attempt's own
// records count.
int LongestStretch(const AttemptRecords& records, int steps, bool whole_words);

// Appends to `text` the bytes that a stretch ending at ring entry `last`,
// with the records `record` of its last character, writes: its reading,
// with its surface form and "/" when `surface_forms`, or its own bytes (a
// superblank's marker writes nothing itself: its text follows). Returns
// what the bytes are.
PieceKind RenderStretch(const RingEntry& last, const StepRecord& record,
                        const RecordSources& sources, bool surface_forms,
                        std::string& text);

// Writes, in input order, the waiting superblanks whose marker's input
// number is at most `input_number`; with `events`, each with its event.
void WriteWaitingSuperblanks(Reader& reader, Output& output,
                             uint64_t input_number, bool events);

// The same, inline for the common case, where none waits: this runs after
// every attempt.
inline void WriteSuperblanksUpTo(Reader& reader, Output& output,
                                 uint64_t input_number, bool events) {
  if (!reader.pending_superblanks.empty()) [[unlikely]]
    WriteWaitingSuperblanks(reader, output, input_number, events);
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_EMISSION_H_
