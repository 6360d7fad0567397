// --json on two processors: the engine analyses on the calling thread while
// a second thread turns the previous batches into JSON lines and writes
// them. For input read as a stream (pipes, terminals); a file analysed in
// pieces needs no such thread, since its lines are made on the calling
// thread while the workers analyse (options.cc).
//
// Read as a stream, the analysis is on one thread, and the JSON lines cost
// about a third as much again as the analysis with events (they are 16
// times the annotated text's size); side by side, the two overlap
// (bench/README.md has the figures).
//
// The engine's batch is only valid during the sink's call, so the sink
// copies it into a free slot (a copy of the batch is a few percent of its
// JSON's cost) and returns; the writer takes the slots in order. Two slots
// bound the memory: the analysis waits when both are full. Output keeps
// pace with input, since a slot is handed over as soon as it is filled. A
// failed write stops the writer, and the next call of the sink returns
// false, which stops the analysis, as the one-thread sink does.

#ifndef ETIQUEM_CLI_JSON_PIPELINE_H_
#define ETIQUEM_CLI_JSON_PIPELINE_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/json_writer.h"
#include "etiquem/etiquem.h"

namespace etiquem {

// A batch copied out of the engine's buffers.
struct OwnedBatch {
  std::string output;
  uint64_t output_offset = 0;
  std::string unknown_words;
  std::vector<Event> events;
  std::vector<ReadingPart> parts;
  std::vector<int32_t> symbols;
  std::string surfaces;

  void CopyFrom(const Batch& batch);
  Batch View() const;
};

class JsonPipeline {
 public:
  // Starts the writer thread; `writer` (its dictionary, mode and files) is
  // used by that thread alone until Finish().
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
  OwnedBatch slots_[kSlots];
  // Slots are filled and written in turn: [written_, filled_) are waiting,
  // counted from the start (slot k % kSlots); filled_ - written_ <= kSlots.
  uint64_t filled_ = 0;
  uint64_t written_ = 0;
  bool finishing_ = false;  // no more batches will come
  bool failed_ = false;     // a write failed: the writer has stopped
  std::thread thread_;
};

}  // namespace etiquem

#endif  // ETIQUEM_CLI_JSON_PIPELINE_H_
