// Acceptance recording; see acceptance.h.

#include "engine/acceptance.h"

#include "engine/failure.h"
#include "engine/messages.h"
#include "engine/reading_text.h"

namespace etiquem {

void RecordAcceptances(Acceptances& acceptances, const LiveStates& v,
                       std::string_view form, int first_upper, int latest_upper,
                       StepRecord& entry, int apostrophe_blank,
                       int mark_unknown) {
  const Automaton& t = *v.automaton;
  entry.acceptance = kNoAcceptance;
  const size_t first = acceptances.accepted.size();
  int last = 0;  // 1: the last complete-or-partial marker was complete
  for (const LiveState& s : v.states) {
    const State& n = t.states[size_t(s.state)];
    for (int32_t i = 0; i < n.marker_count; ++i) {
      const int marker = t.markers[n.first_marker + uint32_t(i)];
      if (marker == kEndOfUnknown) {
        ReadingRecord& r = entry.unknown;
        r.present = true;
        r.option = uint8_t(mark_unknown != 0);
        r.form_length = uint16_t(form.size());
        entry.acceptance = kPiecesOrUnknown;
        continue;
      }
      if (marker == kEndOfAnalysis) {
        last = 1;
        entry.acceptance = kCompleteAnalysis;
      } else {
        last = 0;
        // A piece with no output adds nothing to the reading.
        if (s.output == 0) continue;
      }
      if (acceptances.accepted.size() >= acceptances.max_accepted)
        FailAnalysis(messages::kStatusFailure, messages::kLiveStateLimit);
      acceptances.accepted.push_back(AcceptedOutput{s.output, marker});
    }
  }
  if (acceptances.accepted.size() == first) return;
  ReadingRecord& r = entry.analysis;
  r.present = true;
  r.first_upper = uint8_t(first_upper);
  r.latest_upper = uint8_t(latest_upper);
  r.option = uint8_t(apostrophe_blank == 1);
  r.form_length = uint16_t(form.size());
  r.first_accepted = uint32_t(first);
  r.accepted_count = uint32_t(acceptances.accepted.size() - first);
  if (entry.acceptance != kCompleteAnalysis)
    entry.acceptance = last == 1 ? kCompleteAnalysis : kPiecesOrUnknown;
}

void RenderAnalysis(Acceptances& acceptances, const LiveStates& v,
                    const ReadingRecord& r, const char* surface,
                    std::string& text) {
  const Automaton& t = *v.automaton;
  const AcceptedOutput* accepted =
      acceptances.accepted.data() + r.first_accepted;
  int pieces = 0;
  bool complete = false;
  for (uint32_t i = 0; i < r.accepted_count; ++i) {
    if (accepted[i].marker == kEndOfPiece) ++pieces;
  }
  // With two or more pieces, the second piece wraps everything before it as
  // the first "<e>" element; the whole is wrapped in "<amb>".
  if (pieces >= 2) text += "<amb><e>";
  int piece = 0;
  for (uint32_t i = 0; i < r.accepted_count; ++i) {
    if (accepted[i].marker == kEndOfAnalysis) {
      complete = true;
      RenderCompleteOutput(t, v, accepted[i].output, r.first_upper,
                           r.latest_upper, text);
      continue;
    }
    const int n =
        OutputSymbols(v, accepted[i].output, acceptances.symbol_scratch);
    ++piece;
    // Every piece starts from a fresh one-shot flag.
    int capital_pending = 1;
    if (piece == 1 && i == 0) {
      RenderPieceReading(t, acceptances.symbol_scratch, n, r.first_upper,
                         r.latest_upper, capital_pending, text);
      continue;
    }
    text += piece == 2 ? "</e><e>" : "<e>";
    RenderPieceReading(t, acceptances.symbol_scratch, n, r.first_upper,
                       r.latest_upper, capital_pending, text);
    text += "</e>";
  }
  if (pieces >= 2) text += "</amb>";
  if (r.option == 1 && complete &&
      HasApostrophe(std::string_view(surface, r.form_length)))
    text.push_back(' ');
}

void RenderUnknown(const ReadingRecord& r, std::string_view form,
                   std::string& text) {
  if (r.option == 1) text += "<d>";
  text += form;
  if (r.option == 1) text += "</d>";
}

}  // namespace etiquem
