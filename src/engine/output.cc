// Handing written output to the caller; see output.h.

#include "engine/output.h"

#include <cassert>

namespace etiquem {

namespace {

void Hand(Output& output, const Batch& batch) {
  if (!output.sink(output.sink_context, batch)) throw AnalysisStopped{};
}

void HandGathered(Output& output, bool lasting) {
  Batch batch;
  batch.output = output.text;
  batch.unknown_words = output.unknown_words;
  batch.events = output.events;
  batch.parts = output.parts;
  batch.symbols = output.symbols;
  batch.surfaces = output.surfaces;
  batch.output_offset = output.text_delivered;
  batch.lasting = lasting;
  Hand(output, batch);
  ++output.batches;
  output.text_delivered += output.text.size();
  output.unknown_delivered += output.unknown_words.size();
  if (lasting) {
    // The previous batch's call has returned: its buffers are free again,
    // and this batch's are kept until the next call returns.
    Output::Buffers& b = output.previous;
    output.text.swap(b.text);
    output.unknown_words.swap(b.unknown_words);
    output.events.swap(b.events);
    output.parts.swap(b.parts);
    output.symbols.swap(b.symbols);
    output.surfaces.swap(b.surfaces);
    assert(b.text.data() == batch.output.data() &&
           b.unknown_words.data() == batch.unknown_words.data() &&
           b.surfaces.data() == batch.surfaces.data());
  }
  output.text.clear();
  output.unknown_words.clear();
  output.events.clear();
  output.parts.clear();
  output.symbols.clear();
  output.surfaces.clear();
}

bool NothingGathered(const Output& output) {
  return output.text.empty() && output.unknown_words.empty() &&
         output.events.empty();
}

}  // namespace

void KeepPreviousBatch(Output& output, bool keep) {
  output.keep_previous = keep;
  if (!keep) return;
  // A short string's bytes lie inside the string object, and a swap would
  // move them from under the batch: the strings are made to hold their
  // bytes apart from the start (clear() keeps the capacity).
  constexpr size_t kApart = 64;
  static_assert(kApart > sizeof(std::string), "past any short-string room");
  for (std::string* s :
       {&output.text, &output.unknown_words, &output.surfaces,
        &output.previous.text, &output.previous.unknown_words,
        &output.previous.surfaces})
    s->reserve(kApart);
}

void Deliver(Output& output) {
  if (!NothingGathered(output)) HandGathered(output, output.keep_previous);
}

void DeliverLast(Output& output) {
  // Kept batches need a call after them to be given back: with them, the
  // last batch is handed over even when empty.
  if (output.keep_previous || !NothingGathered(output))
    HandGathered(output, false);
}

void DeliverLarge(Output& output, std::string_view text, const Event* event) {
  Deliver(output);
  Batch batch;
  batch.output = text;
  if (event != nullptr) batch.events = std::span<const Event>(event, 1);
  batch.output_offset = output.text_delivered;
  Hand(output, batch);
  ++output.batches;
  output.text_delivered += text.size();
}

}  // namespace etiquem
