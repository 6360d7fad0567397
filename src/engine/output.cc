// Handing written output to the caller; see output.h.

#include "engine/output.h"

namespace etiquem {

namespace {

void Hand(Output& output, const Batch& batch) {
  if (!output.sink(output.sink_context, batch)) throw AnalysisStopped{};
}

}  // namespace

void Deliver(Output& output) {
  if (output.text.empty() && output.unknown_words.empty() &&
      output.events.empty())
    return;
  Batch batch;
  batch.output = output.text;
  batch.unknown_words = output.unknown_words;
  batch.events = output.events;
  batch.parts = output.parts;
  batch.symbols = output.symbols;
  batch.surfaces = output.surfaces;
  batch.output_offset = output.text_delivered;
  Hand(output, batch);
  output.text_delivered += output.text.size();
  output.unknown_delivered += output.unknown_words.size();
  output.text.clear();
  output.unknown_words.clear();
  output.events.clear();
  output.parts.clear();
  output.symbols.clear();
  output.surfaces.clear();
}

void DeliverLarge(Output& output, std::string_view text, const Event* event) {
  Deliver(output);
  Batch batch;
  batch.output = text;
  if (event != nullptr) batch.events = std::span<const Event>(event, 1);
  batch.output_offset = output.text_delivered;
  Hand(output, batch);
  output.text_delivered += text.size();
}

}  // namespace etiquem
