// --json on two processors; see json_pipeline.h.

#include "cli/json_pipeline.h"

#include <cassert>

namespace etiquem {

JsonPipeline::JsonPipeline(JsonWriter* writer)
    : writer_(writer), thread_([this] { WriterLoop(); }) {}

JsonPipeline::~JsonPipeline() { Finish(); }

bool JsonPipeline::Sink(void* context, const Batch& batch) {
  return static_cast<JsonPipeline*>(context)->Queue(batch);
}

bool JsonPipeline::Queue(const Batch& batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The call before this one left at most one batch waiting.
  assert(filled_ - written_ < kSlots);
  if (failed_) return false;
  slots_[filled_ % kSlots] = batch;
  ++filled_;
  changed_.notify_all();
  // The batch before this one is given back to the engine when this call
  // returns; a batch that does not last is itself.
  const uint64_t keep = batch.lasting ? 1 : 0;
  changed_.wait(lock, [&] { return failed_ || filled_ - written_ <= keep; });
  return !failed_;
}

void JsonPipeline::WriterLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return written_ < filled_ || finishing_; });
    if (written_ == filled_) return;  // finishing, and nothing waits
    const Batch& slot = slots_[written_ % kSlots];
    lock.unlock();
    const bool written = WriteJsonBatch(writer_, slot);
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
