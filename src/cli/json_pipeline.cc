// --json on two processors; see json_pipeline.h.

#include "cli/json_pipeline.h"

#include <cassert>

namespace etiquem {

void OwnedBatch::CopyFrom(const Batch& batch) {
  output.assign(batch.output);
  output_offset = batch.output_offset;
  unknown_words.assign(batch.unknown_words);
  events.assign(batch.events.begin(), batch.events.end());
  parts.assign(batch.parts.begin(), batch.parts.end());
  symbols.assign(batch.symbols.begin(), batch.symbols.end());
  surfaces.assign(batch.surfaces);
}

Batch OwnedBatch::View() const {
  Batch batch;
  batch.output = output;
  batch.output_offset = output_offset;
  batch.unknown_words = unknown_words;
  batch.events = events;
  batch.parts = parts;
  batch.symbols = symbols;
  batch.surfaces = surfaces;
  return batch;
}

JsonPipeline::JsonPipeline(JsonWriter* writer)
    : writer_(writer), thread_([this] { WriterLoop(); }) {}

JsonPipeline::~JsonPipeline() { Finish(); }

bool JsonPipeline::Sink(void* context, const Batch& batch) {
  return static_cast<JsonPipeline*>(context)->Queue(batch);
}

bool JsonPipeline::Queue(const Batch& batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock,
                [&] { return failed_ || filled_ - written_ < kSlots; });
  if (failed_) return false;
  OwnedBatch& slot = slots_[filled_ % kSlots];
  // The writer does not touch a slot in [written_ + kSlots, ...): this one
  // is free, and is copied without the lock.
  lock.unlock();
  slot.CopyFrom(batch);
  lock.lock();
  ++filled_;
  changed_.notify_all();
  return true;
}

void JsonPipeline::WriterLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return written_ < filled_ || finishing_; });
    if (written_ == filled_) return;  // finishing, and nothing waits
    const OwnedBatch& slot = slots_[written_ % kSlots];
    lock.unlock();
    const bool written = WriteJsonBatch(writer_, slot.View());
    lock.lock();
    ++written_;
    if (!written) {
      failed_ = true;
      changed_.notify_all();
      return;
    }
    changed_.notify_all();
  }
}

bool JsonPipeline::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  assert(failed_ || written_ == filled_);
  return !failed_;
}

}  // namespace etiquem
