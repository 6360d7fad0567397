// The analysis loop: the one loop that turns the input into annotated
// output. It pulls characters from the reader, walks all paths of the
// transducer in parallel over the current attempt, records what they accept
// at each character, and when no path goes on writes the longest accepted
// stretch and starts the next attempt right after it, reading again from
// the ring what it had already taken from the input.
//
// Most attempts are not walked with outputs at all. A deterministic walk
// over sets of live states (engine/lazy_dfa.h), one table lookup per
// character, finds where the attempt ends and which record of which
// character is written; the text of that stretch comes from a memory of
// written stretches (engine/stretch_memory.h), and only a stretch not seen
// before is walked with outputs, over its own characters alone. Where the
// deterministic walk cannot stand for the full one (too many paths, a full
// cache), the attempt is stepped with outputs from its start.
//
// The loop is driven by one stepping call, AdvanceAnalysis: it runs until
// the next attempt starts at or past a given input offset, the input ends,
// or something fails, and says which. A whole run is one call with no
// limit; the analysis of a file in pieces (engine/pieces.h) stops at every
// attempt boundary of a piece's window to note its clean cuts. Between
// attempts the loop's state is small, which is what makes the cuts useful.
//
// UTF-8 input (Options::utf8) runs its own instance of the loop, chosen
// once per call, so the Latin-1 loop is exactly what it was: the same steps
// on the characters' matching codes, the memory keyed by character codes,
// and everything echoed built from the input bytes kept in the ring.

#ifndef ETIQUEM_ENGINE_ANALYSIS_H_
#define ETIQUEM_ENGINE_ANALYSIS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/acceptance.h"
#include "engine/automaton.h"
#include "engine/lazy_dfa.h"
#include "engine/live_states.h"
#include "engine/output.h"
#include "engine/reader.h"
#include "engine/scanner.h"
#include "engine/stretch_memory.h"
#include "etiquem/etiquem.h"

namespace etiquem {

struct Analyser {
  const Automaton* automaton = nullptr;
  Options options;
  Scanner scanner;
  Reader reader;
  Output output;
  LiveStates live_states;
  Acceptances acceptances;
  AttemptRecords records;
  bool at_attempt_start = true;  // the next character starts an attempt
  int first_upper = 0;   // upper-case flag of the attempt's first character
  int latest_upper = 0;  // upper-case flag of its latest character
  char surface[kMaxAttemptCharacters + 2];  // the attempt's characters
                                            // (matching bytes in UTF-8)
  int surface_length = 0;                   // characters in `surface`
  // UTF-8 mode: the attempt's character codes (engine/utf8.h), and the
  // input bytes of the stretch being written, the (j+1)-th character's
  // ending at echo_ends[j].
  uint16_t codes[kMaxAttemptCharacters + 2];
  char echo[kMaxAttemptCharacters * 4 + 4];
  uint16_t echo_ends[kMaxAttemptCharacters];
  RingIndex start_index = 0;  // entry of the attempt's first character
  // The deterministic walk of attempts and the memory of written stretches
  // (engine/lazy_dfa.h, engine/stretch_memory.h). Without them
  // (use_dfa false) every attempt takes the full walk with outputs, which
  // is what they must always agree with.
  LazyDfa dfa;
  StretchMemory memory;
  bool use_dfa = true;
  bool following_dfa = false;  // the attempt so far is on the walk
  // The transition into its walk state, as TransitionKey reads it (the
  // state and its flags; the start state's at the attempt's start).
  uint32_t walk_into = 0;
  // The transition taken at each character (lazy_dfa.h): its walk state
  // and what that state accepts (kWalk* flags). Kept whole, as the walk
  // read it.
  uint32_t walk_entries[kMaxAttemptCharacters];
  // The sum of the live-state list sizes over the attempt so far, and the
  // largest the walk goes on with (see PathBoundLimit).
  uint64_t path_total = 0;
  uint64_t path_bound_limit = 0;
  // Latin-1, in a run whose writes of remembered stretches read no ring
  // entry (no events, no limit, no superblank waiting): the walk over the
  // scanner's block (WalkBlock) stores the ring entries of an attempt's
  // characters only when something reads them. The attempt's last
  // `unstored_entries` characters have no ring entry yet: their bytes are
  // in `surface`, their input numbers run up to `unstored_last_number`
  // (that of the attempt's last character), their entries follow
  // `start_index`. 0 whenever the loop outside that walk runs.
  int unstored_entries = 0;
  uint64_t unstored_last_number = 0;
  Options memory_options;  // the options of the run the memory was kept by
  // Input offsets [plain_from, plain_to) hold no '<': the walk over the
  // scanner's block runs to plain_to without looking for one. plain_to is
  // a '<' when plain_to_is_lt, else the end of the block when it was
  // searched. Empty (plain_from > plain_to) at the start of an analysis.
  uint64_t plain_from = 1;
  uint64_t plain_to = 0;
  bool plain_to_is_lt = false;
  // With events: where the parts and surface of a remembered stretch lie
  // in the batch being gathered, when it was written there already. A
  // stretch written again in the same batch points at them instead of
  // copying them again (most stretches of a batch are common words).
  // Direct-mapped by the stretch's entry in the memory; a miss copies.
  struct EventsInBatch {
    uint32_t entry = UINT32_MAX;  // the memory entry's index
    uint32_t memory_generation = 0;
    uint32_t batch = 0;           // Output::batches when written
    uint32_t first_part = 0;      // in Output::parts
    uint32_t part_count = 0;
    uint32_t surface_begin = 0;   // in Output::surfaces
    uint32_t surface_end = 0;     // == surface_begin: not shared
  };
  static constexpr size_t kEventsInBatchSlots = 4096;
  static_assert((kEventsInBatchSlots & (kEventsInBatchSlots - 1)) == 0);
  std::vector<EventsInBatch> events_in_batch;  // kEventsInBatchSlots, with
                                               // events
  // The stepping call: it returns at the first attempt boundary whose
  // offset is at least `limit`, which it stores in `step`.
  uint64_t limit = UINT64_MAX;
  bool stop = false;
  Step step;
  bool finished = false;  // the input ended, or the analysis failed
  Error error;            // what failed
};

// Prepares `analyser` to analyse `input` with `automaton`, delivering to
// `sink`. Keeps the walk cache, the memory of stretches, and the ring's and
// the scanner's storage when the analyser was used before.
void StartAnalysis(Analyser& analyser, const Automaton* automaton,
                   const Options& options, const Input& input, BatchSink sink,
                   void* sink_context);

// Runs the analysis until the next attempt starts at input offset `limit`
// or later (Reached::kBoundary), the input ends and everything is handed
// over (kEnd), the sink refuses a batch (kStopped) or something fails
// (kError, analyser.error). After kEnd, kStopped or kError every call gives
// the same answer.
Step AdvanceAnalysis(Analyser& analyser, uint64_t limit);

// Invalid UTF-8 units the analysis has met so far (UTF-8 mode).
inline const InvalidUtf8Count& InvalidUtf8Met(const Analyser& analyser) {
  return analyser.scanner.invalid_utf8;
}

// Where the attempt after the one whose stretch ended at entry `last`
// starts, and whether that is a clean cut: no superblank waits, and what was
// read after it is plain characters (the scanner is then outside a
// superblank as well). Everything written from a clean cut on depends only
// on the input from its offset.
Step BoundaryAfter(const Analyser& analyser, RingIndex last);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_ANALYSIS_H_
