// Longest-match selection and emission; see emission.h.

#include "engine/emission.h"

#include "engine/utf8.h"

namespace etiquem {

int LongestStretch(const AttemptRecords& records, int steps,
                   bool whole_words) {
  assert(steps >= 1 && steps <= kMaxAttemptCharacters);
  // The first character is the last resort, so it is never searched.
  if (whole_words) {
    for (int j = steps - 1; j >= 1; --j) {
      const StepRecord& record = records.steps[j];
      if (record.analysis.present || record.unknown.present) return j + 1;
    }
    return 1;
  }
  for (int j = steps - 1; j >= 1; --j)
    if (records.steps[j].analysis.present) return j + 1;
  for (int j = steps - 1; j >= 1; --j)
    if (records.steps[j].unknown.present) return j + 1;
  return 1;
}

namespace {

void AppendSurface(std::string& text, const RecordSources& sources,
                   const ReadingRecord& r, bool surface_forms) {
  if (surface_forms) {
    text += EchoOf(sources, r.form_length);
    text.push_back('/');
  }
}

// Writes one superblank, with its event.
void WriteSuperblank(Output& output, const PendingSuperblank& superblank,
                     bool events) {
  const std::string& text = superblank.text;
  Event event;
  event.kind = PieceKind::kSuperblank;
  event.input_begin = superblank.input_number - 1;
  event.input_end = superblank.input_end;
  if (text.size() >= output.threshold) {
    event.output_end = uint32_t(text.size());
    DeliverLarge(output, text, events ? &event : nullptr);
  } else {
    event.output_begin = uint32_t(output.text.size());
    output.text += text;
    event.output_end = uint32_t(output.text.size());
    if (events) output.events.push_back(event);
    CheckThreshold(output);
  }
  // This superblank asks for everything so far to leave at once.
  if (text.find("<![CDATA[.]]>") != std::string::npos) Deliver(output);
}

}  // namespace

PieceKind RenderStretch(const RingEntry& last, const StepRecord& record,
                        const RecordSources& sources, bool surface_forms,
                        std::string& text) {
  if (record.analysis.present) {
    AppendSurface(text, sources, record.analysis, surface_forms);
    const size_t reading = text.size();
    RenderAnalysis(*sources.acceptances, *sources.live_states, record.analysis,
                   sources.surface, text);
    // The dictionary's texts are Latin-1.
    if (sources.echo != nullptr) Latin1TailToUtf8(text, reading);
    return PieceKind::kReading;
  }
  if (record.unknown.present) {
    AppendSurface(text, sources, record.unknown, surface_forms);
    RenderUnknown(record.unknown, EchoOf(sources, record.unknown.form_length),
                  text);
    return PieceKind::kUnknownWord;
  }
  if (last.kind == kCharacter) {
    if (sources.echo != nullptr)
      text.append(reinterpret_cast<const char*>(last.raw), last.length);
    else
      text.push_back(char(last.byte));
    return PieceKind::kCharacter;
  }
  return PieceKind::kSuperblank;
}

void WriteWaitingSuperblanks(Reader& reader, Output& output,
                             uint64_t input_number, bool events) {
  while (!reader.pending_superblanks.empty() &&
         reader.pending_superblanks.front().input_number <= input_number) {
    WriteSuperblank(output, reader.pending_superblanks.front(), events);
    reader.pending_superblanks.pop_front();
  }
}

}  // namespace etiquem
