// What an analysis has written and not yet handed over: the annotated bytes,
// the unknown-word lines and, when asked for, the events that describe them.
//
// Everything written goes into these buffers and leaves in one batch through
// the caller's sink (include/etiquem/etiquem.h): before the scanner may wait
// for input, when a buffer passes its threshold, before a large superblank
// (handed over as its own batch, without a copy) and at the end. So the
// engine never writes to a descriptor itself, memory stays bounded, and what
// was written for the input consumed so far has left the engine before it
// waits for more.
//
// A sink that refuses a batch stops the analysis: Deliver throws
// AnalysisStopped, which the stepping call turns into its error.

#ifndef ETIQUEM_ENGINE_OUTPUT_H_
#define ETIQUEM_ENGINE_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "etiquem/etiquem.h"

namespace etiquem {

struct Output {
  std::string text;           // annotated bytes not yet handed over
  std::string unknown_words;  // whole lines not yet handed over
  // With Options::events: the pieces written, their reading parts, the
  // parts' symbols and the input bytes of the stretches read.
  std::vector<Event> events;
  std::vector<ReadingPart> parts;
  std::vector<int32_t> symbols;
  std::string surfaces;
  // With keep_previous: the buffers of the batch handed over last, left as
  // they were until the sink's next call returns (Options::
  // keep_previous_batch); the two sets are filled in turn.
  struct Buffers {
    std::string text;
    std::string unknown_words;
    std::vector<Event> events;
    std::vector<ReadingPart> parts;
    std::vector<int32_t> symbols;
    std::string surfaces;
  };
  Buffers previous;
  bool keep_previous = false;
  // Batches handed over so far: a batch's number tells what was gathered
  // into the same batch.
  uint32_t batches = 0;
  // Bytes of `text` (or events) gathered before a batch is forced.
  size_t threshold = size_t(1) << 20;
  // Bytes handed over so far, of each stream, and what the caller's count
  // starts from: written offsets count from the start of the analysis.
  uint64_t text_delivered = 0;
  uint64_t unknown_delivered = 0;
  BatchSink sink = nullptr;
  void* sink_context = nullptr;
  bool stopped = false;  // the sink refused a batch
};

// Thrown by Deliver when the sink refused a batch.
struct AnalysisStopped {};

// Sets whether lasting batches are kept (Options::keep_previous_batch).
void KeepPreviousBatch(Output& output, bool keep);

// Hands everything gathered to the sink, if there is anything.
void Deliver(Output& output);

// Hands over what is gathered as the analysis's last batch, one that does
// not last past its call: after it, nothing of the analysis is kept
// (with keep_previous, even when nothing is gathered).
void DeliverLast(Output& output);

// Hands over what is gathered, then `text` as a batch of its own, without
// copying it: for superblanks, which have no length limit. `event`, when not
// null, describes it (its output range within the batch: all of `text`).
void DeliverLarge(Output& output, std::string_view text, const Event* event);

inline void CheckThreshold(Output& output) {
  if (output.text.size() >= output.threshold) [[unlikely]]
    Deliver(output);
}

inline void Write(Output& output, std::string_view bytes) {
  output.text.append(bytes.data(), bytes.size());
  CheckThreshold(output);
}

inline void WriteByte(Output& output, char c) {
  output.text.push_back(c);
  CheckThreshold(output);
}

// Appends one unknown-word line: the word and a line end, together, so that
// a batch always holds whole lines.
inline void WriteUnknownLine(Output& output, std::string_view word) {
  output.unknown_words.append(word.data(), word.size());
  output.unknown_words.push_back('\n');
}

// Bytes written to each stream so far, handed over or not.
inline uint64_t TextWritten(const Output& output) {
  return output.text_delivered + output.text.size();
}
inline uint64_t UnknownWritten(const Output& output) {
  return output.unknown_delivered + output.unknown_words.size();
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_OUTPUT_H_
