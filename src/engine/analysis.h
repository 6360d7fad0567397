// The analysis loop: the one loop that turns the input into annotated
// output. It pulls characters from the reader, walks all paths of the
// transducer in parallel over the current attempt, records what they accept
// at each position, and when no path goes on writes the longest accepted
// stretch and starts the next attempt right after it, re-reading from the
// ring what it had already taken from the input.
//
// Attempts whose characters were seen before are answered from a memory of
// finished attempts (engine/attempt_memory.h): while the characters follow a
// stored path nothing is stepped; at the first character off the stored paths
// the attempt is stepped from its start, and its outcome is stored when it
// ends.

#ifndef ETIQUEM_ENGINE_ANALYSIS_H_
#define ETIQUEM_ENGINE_ANALYSIS_H_

#include <string>

#include "engine/acceptance.h"
#include "engine/attempt_memory.h"
#include "engine/automaton.h"
#include "engine/live_states.h"
#include "engine/output_buffer.h"
#include "engine/reader.h"

namespace etiquem {

struct PieceRun;  // engine/pieces.h

// Characters an attempt may step; an attempt still alive after that many
// ends there, so the attempt, the position before it and the empty position
// after it always fit in the ring.
constexpr int kMaxAttemptCharacters = 254;

struct Analysis {
  const Automaton* automaton = nullptr;
  Reader* reader = nullptr;
  OutputBuffer* output = nullptr;          // standard output
  OutputBuffer* unknown_output = nullptr;  // unknown-words file, or null
  LiveStates live_states;
  Acceptances acceptances;
  bool at_attempt_start = true;  // the next character starts an attempt
  int first_upper = 0;   // upper-case flag of the attempt's first character
  int latest_upper = 0;  // upper-case flag of its latest character
  char surface[kMaxAttemptCharacters + 2];  // the attempt's characters
  int surface_length = 0;                   // characters in `surface`
  int start_entry = 0;  // entry index of the attempt's first character
  // Options of the run: -s, -d, -a, -m.
  int surface_forms = 0, unknown_file = 0, apostrophe_blank = 0,
      mark_unknown = 0;
  AttemptMemory memory;
  bool use_memory = true;         // answer repeated attempts from the memory
  bool following_memory = false;  // the attempt so far follows a stored path
  uint32_t memory_node = 0;       // its node in the memory
  std::string rendered;           // bytes of the position being written
  // Set when this analysis runs one stretch of a file beside others
  // (engine/pieces.h): after an attempt whose stretch ends at a position of
  // `input_number` `watch_from` or later, the driver is told where the next
  // attempt starts (NoteCut), and it may set `stop` to end the run there.
  PieceRun* piece_run = nullptr;
  uint64_t watch_from = UINT64_MAX;
  bool stop = false;
};

// Where the next attempt of `analysis` starts, told to the driver after the
// attempt that ended at position `p`. `offset` is its input offset. `clean`
// says whether the analysis from there on depends on the input from `offset`
// alone: no superblank waits, and what was read after `offset` is plain
// characters (the scanner is then outside a superblank as well).
struct NextAttemptCut {
  uint64_t offset = 0;
  bool clean = false;
};
NextAttemptCut CutAfter(const Analysis& analysis, int p);

// Wires an analysis to its model, reader and outputs.
void InitAnalysis(Analysis& analysis, const Automaton* t, Reader* l,
                  OutputBuffer* output, OutputBuffer* unknown_output);

// Runs over the whole input. Options: -s, -d, -a, -m (each 0 or 1).
void RunAnalysis(Analysis& analysis, int surface_forms, int unknown_file,
                 int apostrophe_blank, int mark_unknown);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_ANALYSIS_H_
