// Longest-match selection and emission.
//
// When an attempt ends, LongestStretchEnd picks the furthest position the
// attempt stepped that holds a reading (analyses before unknown-word readings,
// the attempt's first position as the last resort), and Emit writes that one
// position: its analysis, its unknown-word reading, or its own byte, then
// every waiting superblank whose marker lies in the stretch just written, in
// input order, so blocks of formatting come out in their places.

#ifndef ETIQUEM_ENGINE_EMISSION_H_
#define ETIQUEM_ENGINE_EMISSION_H_

#include <string>

#include "engine/acceptance.h"
#include "engine/live_states.h"
#include "engine/output_buffer.h"
#include "engine/reader.h"

namespace etiquem {

// What the texts of an attempt's records are rendered from: its output
// arena, its acceptance list and its surface.
struct RecordSources {
  const LiveStates* live_states = nullptr;
  Acceptances* acceptances = nullptr;
  const char* surface = nullptr;
};

// The position (1 to 256) of the stretch's last character, for an attempt
// whose first character has entry index `start` and that stepped `steps`
// characters (at least 1). Only the stepped positions count, whatever their
// place in the ring.
int LongestStretchEnd(const Reader& l, int start, int steps);

// Appends to `text` the bytes that position `p` writes (its reading, with
// its surface form and "/" when `surface_forms` is 1, or its own byte); returns
// whether they come from an unknown-word record.
bool RenderPosition(const Reader& l, const RecordSources& sources,
                    int surface_forms, int p, std::string& text);

// Writes, in input order, the waiting superblanks whose marker is at or
// before input character number `input_number`.
void WriteSuperblanksUpTo(Reader& l, OutputBuffer& output,
                          uint64_t input_number);

// Writes position `p` to `output` (with its surface form and "/" when
// `surface_forms` is 1) and its pending superblanks. An unknown word written
// from its `is_unknown` record also goes, as one line, to `unknown_output` when
// `write_unknown` is 1.
void Emit(Reader& l, const RecordSources& sources, OutputBuffer& output,
          OutputBuffer* unknown_output, int surface_forms, int p,
          int write_unknown);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_EMISSION_H_
