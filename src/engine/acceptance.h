// Acceptance recording: after every step, what the live states accept at the
// character just read is recorded at that character's ring position, for the
// emission to choose from later.
//
// A live state accepts through the marker groups of its transition list: a
// complete analysis, a piece of a compound reading, or an unknown-word
// reading. Complete analyses are concatenated; two or more pieces are wrapped
// in "<e>" and "<amb>" marks; an unknown-word reading goes to its own record.
//
// Most accepted readings are never written: a longer match usually wins. So
// recording only notes which outputs were accepted (appended to the
// attempt's acceptance list) and the flags the text depends on; the text is
// rendered from the note when the position is written, straight into the
// output buffer. The output arena and the surface of the attempt stay intact
// until the attempt has been written, which is what makes the notes valid.

#ifndef ETIQUEM_ENGINE_ACCEPTANCE_H_
#define ETIQUEM_ENGINE_ACCEPTANCE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/live_states.h"
#include "engine/reader.h"

namespace etiquem {

// What the live states accepted at a character of the attempt.
enum Acceptance : uint8_t {
  kNoAcceptance = 0,      // nothing
  kCompleteAnalysis = 1,  // a complete analysis
  kPiecesOrUnknown = 2,   // pieces of a compound reading or an unknown word
};

// A reading recorded at a character of the attempt. It names what was
// accepted rather than holding the text: the accepting outputs are entries
// [first_accepted, first_accepted + accepted_count) of the attempt's
// acceptance list, and the surface form is the first `form_length`
// characters of the attempt. Texts are rendered only for the record that is
// written, and records are plain values, so recording allocates nothing.
struct ReadingRecord {
  bool present = false;         // whether the record is present
  uint8_t first_upper = 0;      // case flag of the attempt's first character
  uint8_t latest_upper = 0;     // case flag of the latest character
  uint8_t option = 0;           // -a for an analysis, -m for an unknown word
  uint16_t form_length = 0;     // characters of the surface form
  uint32_t first_accepted = 0;  // first acceptance entry of the reading
  uint32_t accepted_count = 0;  // acceptance entries of the reading
};

// What was recorded at one character of the attempt.
struct StepRecord {
  Acceptance acceptance = kNoAcceptance;
  ReadingRecord analysis;  // the analysis recorded here
  ReadingRecord unknown;   // the unknown-word reading recorded here
};

// The records of the attempt under way, by character: steps[j] for its
// (j+1)-th character. Each is cleared when its character is stepped, so
// nothing an earlier attempt recorded is ever read.
struct AttemptRecords {
  StepRecord steps[kMaxAttemptCharacters];
};
static_assert(sizeof(ReadingRecord) == 16, "records are plain values");

// One accepted output: its node in the output arena and its marker.
struct AcceptedOutput {
  uint32_t output;  // output node (see LiveStates::nodes)
  int32_t marker;   // kEndOfAnalysis or kEndOfPiece
};

struct Acceptances {
  std::vector<AcceptedOutput>
      accepted;  // this attempt's accepted outputs, in order
  size_t max_accepted = size_t(1) << 22;  // bound, as for the output arena
  int32_t
      symbol_scratch[kMaxOutputSymbols];  // one output, unrolled from the arena
};

// Empties the acceptance list; called at the start of every attempt.
inline void ClearAcceptances(Acceptances& acceptances) {
  acceptances.accepted.clear();
}

// Records at `record` what the live states of `v` accept. `form` is the
// surface of the attempt so far; `first_upper` and `latest_upper` the case
// flags of its first and latest characters; `apostrophe_blank` and
// `mark_unknown` the options -a and -m. Sets the record's status; replaces its
// `analysis` record when an analysis text results and its `unknown` record when
// an unknown-word marker is met, and otherwise leaves them as they were.
void RecordAcceptances(Acceptances& acceptances, const LiveStates& v,
                       std::string_view form, int first_upper, int latest_upper,
                       StepRecord& record, int apostrophe_blank,
                       int mark_unknown);

// Appends the text of analysis record `r` to `text`; `surface` is the
// attempt's surface (the record's form is its first r.form_length bytes).
void RenderAnalysis(Acceptances& acceptances, const LiveStates& v,
                    const ReadingRecord& r, const char* surface,
                    std::string& text);

// Appends the text of unknown-word record `r`: its form's bytes `form`, in
// "<d>...</d>" when it was recorded under -m.
void RenderUnknown(const ReadingRecord& r, std::string_view form,
                   std::string& text);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_ACCEPTANCE_H_
