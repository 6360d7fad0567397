// Longest-match selection and emission; see emission.h.

#include "engine/emission.h"

namespace etiquem {

int LongestStretchEnd(const Reader& l, int start, int steps) {
  // Entry indices of the stepped characters are start, start+1, ... mod 256.
  for (int i = steps - 1; i >= 1; --i) {
    const int e = (start + i) & 255;
    if (l.ring[e].analysis.present) return e + 1;
  }
  for (int i = steps - 1; i >= 1; --i) {
    const int e = (start + i) & 255;
    if (l.ring[e].unknown.present) return e + 1;
  }
  return start + 1;
}

namespace {

void AppendSurface(std::string& text, const RecordSources& sources,
                   const ReadingRecord& r, int surface_forms) {
  if (surface_forms == 1) {
    text.append(sources.surface, r.form_length);
    text.push_back('/');
  }
}

}  // namespace

bool RenderPosition(const Reader& l, const RecordSources& sources,
                    int surface_forms, int p, std::string& text) {
  const RingEntry& pos = l.ring[p - 1];
  if (pos.analysis.present) {
    AppendSurface(text, sources, pos.analysis, surface_forms);
    RenderAnalysis(*sources.acceptances, *sources.live_states, pos.analysis,
                   sources.surface, text);
    return false;
  }
  if (pos.unknown.present) {
    AppendSurface(text, sources, pos.unknown, surface_forms);
    RenderUnknown(pos.unknown, sources.surface, text);
    return true;
  }
  // A superblank's marker writes nothing itself: its text follows.
  if (pos.kind == kCharacter) text.push_back(char(pos.byte));
  return false;
}

void WriteSuperblanksUpTo(Reader& l, OutputBuffer& output,
                          uint64_t input_number) {
  while (!l.pending_superblanks.empty() &&
         l.pending_superblanks.front().input_number <= input_number)
    WriteOldestSuperblank(l, output);
}

void Emit(Reader& l, const RecordSources& sources, OutputBuffer& output,
          OutputBuffer* unknown_output, int surface_forms, int p,
          int write_unknown) {
  const RingEntry& pos = l.ring[p - 1];
  const bool is_unknown =
      RenderPosition(l, sources, surface_forms, p, output.pending);
  if (output.pending.size() >= output.flush_threshold) Flush(output);
  if (is_unknown && write_unknown == 1 && unknown_output != nullptr) {
    Write(*unknown_output,
          std::string_view(sources.surface, pos.unknown.form_length));
    WriteByte(*unknown_output, '\n');
  }
  WriteSuperblanksUpTo(l, output, pos.input_number);
}

}  // namespace etiquem
