// --json on two processors: the engine analyses on the calling thread while
// a second thread turns the previous batches into JSON lines and writes
// them. For input analysed on one thread (a stream, or a file with two
// processors); a file analysed in pieces needs no such thread, since its
// lines are made on the calling thread while the workers analyse
// (options.cc).
//
// Read as a stream, the analysis is on one thread, and the JSON lines cost
// about a third as much again as the analysis with events (they are 16
// times the annotated text's size); side by side, the two overlap
// (bench/README.md has the figures).
//
// The engine keeps each batch as it is until the sink's next call returns
// (Options::keep_previous_batch), so the sink hands the writer a view of
// the batch, not a copy, and before returning waits until the writer is
// done with the batch before it. The writer writes one batch while the
// engine fills the next: output keeps pace with input, and memory holds
// two batches. A batch valid only during its call (a large superblank, the
// analysis's last batch, any batch of an analysis without that option) is
// written before the sink returns. A failed write stops the writer, and
// the next call of the sink returns false, which stops the analysis, as
// the one-thread sink does.

#ifndef ETIQUEM_CLI_JSON_PIPELINE_H_
#define ETIQUEM_CLI_JSON_PIPELINE_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cli/json_writer.h"
#include "etiquem/etiquem.h"

namespace etiquem {

class JsonPipeline {
 public:
  // Starts the writer thread; `writer` (its dictionary, mode and files) is
  // used by that thread alone until Finish(). The writer overlaps the
  // analysis when it runs with Options::keep_previous_batch.
  explicit JsonPipeline(JsonWriter* writer);
  ~JsonPipeline();  // finishes, if Finish() was not called
  JsonPipeline(const JsonPipeline&) = delete;
  JsonPipeline& operator=(const JsonPipeline&) = delete;

  // The engine's sink: `context` is the JsonPipeline.
  static bool Sink(void* context, const Batch& batch);

  // Writes what is queued and stops the writer. False when a write failed.
  bool Finish();

 private:
  static constexpr int kSlots = 2;

  bool Queue(const Batch& batch);
  void WriterLoop();

  JsonWriter* writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Batch slots_[kSlots];
  // Batches are queued and written in turn: [written_, filled_) are
  // waiting, counted from the start (slot k % kSlots); filled_ - written_
  // <= kSlots.
  uint64_t filled_ = 0;
  uint64_t written_ = 0;
  bool finishing_ = false;  // no more batches will come
  bool failed_ = false;     // a write failed: the writer has stopped
  std::thread thread_;
};

}  // namespace etiquem

#endif  // ETIQUEM_CLI_JSON_PIPELINE_H_
