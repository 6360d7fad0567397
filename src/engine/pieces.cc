// Analysis in pieces; see pieces.h.
//
// All coordination goes through one mutex and one condition variable: the
// events (a piece started, a window handed over, a join, a run over, a chunk
// written) come a few times per piece, so contention does not show.
//
// Deadlock freedom: a run waits only for the noted window of a later piece
// whose run has started, and every run hands its window over before it
// first waits (its window ends no later than its piece, and a run that
// waits for its turn because it holds too much hands over what it noted so
// far) or when it ends. Workers wait for permission to start a piece only
// while the writer is behind, or before their first piece until the first
// run has copied its caches for them (it is being written from the start:
// it waits for nobody), and the writer waits only for a run that has
// started.

#include "engine/pieces.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/messages.h"

namespace etiquem {

namespace {

constexpr uint64_t kNone = UINT64_MAX;

enum PieceStatus : uint8_t {
  kFree = 0,     // no run has started at it or reached it
  kOwnRun = 1,   // a run started at it
  kCovered = 2,  // a run that started earlier reached it first
};

// With Options::events, what describes a stretch of a run's output: the
// events, reading parts, symbols and surfaces of the batches that made it,
// kept as the batches gave them, one after the other. Each batch is a
// segment: its records index its own part of each array and its events'
// output offsets count from its first output byte, so a batch is copied in
// four block copies (rebasing every record cost a sixth of a worker's
// time) and handed on as it was, but for the one cut by a join.
struct EventRecords {
  struct Segment {
    uint64_t output_begin = 0;  // in the held output
    size_t first_event = 0;
    size_t first_part = 0;
    size_t first_symbol = 0;
    size_t first_surface = 0;
  };
  std::vector<Segment> segments;
  std::vector<Event> events;
  std::vector<ReadingPart> parts;
  std::vector<int32_t> symbols;
  std::string surfaces;

  // Appends the descriptions of `batch`, whose output starts `output_base`
  // bytes into the stretch.
  void Append(const Batch& batch, uint64_t output_base) {
    segments.push_back(Segment{output_base, events.size(), parts.size(),
                               symbols.size(), surfaces.size()});
    events.insert(events.end(), batch.events.begin(), batch.events.end());
    parts.insert(parts.end(), batch.parts.begin(), batch.parts.end());
    symbols.insert(symbols.end(), batch.symbols.begin(), batch.symbols.end());
    surfaces.append(batch.surfaces);
  }
  // Bytes held, counted against a run's bound.
  size_t Bytes() const {
    return segments.size() * sizeof(Segment) + events.size() * sizeof(Event) +
           parts.size() * sizeof(ReadingPart) +
           symbols.size() * sizeof(int32_t) + surfaces.size();
  }
  void Clear() {
    segments.clear();
    events.clear();
    parts.clear();
    symbols.clear();
    surfaces.clear();
  }
  void Swap(EventRecords& other) {
    segments.swap(other.segments);
    events.swap(other.events);
    parts.swap(other.parts);
    symbols.swap(other.symbols);
    surfaces.swap(other.surfaces);
  }
};

// A chunk of a run's output handed to the writer: bytes from `output_offset`
// and `unknown_offset` onwards of the run's two outputs, counted from the
// run's start, and what describes them (offsets counted from the chunk's).
struct OutputChunk {
  uint64_t output_offset = 0;
  uint64_t unknown_offset = 0;
  std::string output_text;
  std::string unknown_text;
  EventRecords records;
};

// Chunks of the run being written that may wait for the writer.
constexpr size_t kQueuedChunks = 2;

}  // namespace

struct Piece {
  uint64_t start = 0;  // input offsets [start, end)
  uint64_t end = 0;
  PieceStatus status = kFree;
  // Set when an earlier run analyses this piece instead of its own run
  // (which then stops at its next boundary or batch).
  std::atomic<bool> abandoned{false};
  // Handed over by its run once it passes its window (or ends, or waits):
  // the cuts it noted below `cuts_limit` are in `cuts`, in input order.
  bool cuts_ready = false;
  uint64_t cuts_limit = 0;
  std::vector<CleanCut> cuts;
  // The run's output, handed over in chunks, not yet written.
  std::deque<OutputChunk> chunks;
  // Set when its run is over (its last chunk is in `chunks`).
  bool finished = false;
  uint64_t output_end = 0;  // how much of its output counts: up to the join
  uint64_t unknown_end = 0;
  uint64_t next = kNone;  // piece whose run goes on after the join; kNone
                          // when the run reached the end of the input
  CleanCut cut;           // the join, in that run's outputs
  bool failed = false;    // the run stopped on a failure
  Error error;
};

// A copy of the first run's walk cache and memory of stretches, taken once
// it has analysed PieceParameters::seed_bytes: the other workers start
// from it rather than empty. Read-only once made.
struct SeedCaches {
  LazyDfa dfa;
  StretchMemory memory;
};

struct PieceCoordination {
  std::mutex mutex;
  std::condition_variable cv;
  // Pieces first_piece, first_piece + 1, ...: created when first named,
  // dropped once written past and their own run (if any) is over.
  std::deque<Piece> pieces;
  uint64_t first_piece = 0;
  uint64_t piece_count = 0;    // pieces in the input
  uint64_t next_to_start = 0;  // no piece below this one is left to start
  uint64_t being_written = 0;  // the piece whose run is being written
  // The last piece that run covers (it may take the next ones over): other
  // workers start pieces up to pieces_ahead beyond it.
  uint64_t written_front = 0;
  bool closed = false;         // the writer is done; workers leave
  // Set once the first run has made `seed` (or ended, or will make none):
  // until then the other workers wait before their first piece.
  bool seed_done = false;
  std::shared_ptr<const SeedCaches> seed;
  int seed_takers = 0;  // workers that may still take `seed`
  // A worker could not get the memory it runs in and left: the analysis
  // cannot be completed.
  bool out_of_memory = false;
  bool met_invalid_utf8 = false;  // a run met an invalid UTF-8 unit
  // Buffers given back once written or dropped, for the next chunks and
  // windows: after the first pieces nothing is allocated per piece, and the
  // allocator is left no room to fragment.
  std::vector<std::string> free_texts;
  std::vector<std::vector<CleanCut>> free_cut_lists;
  // Fixed for the run.
  const Automaton* automaton = nullptr;
  int fd = 0;
  int64_t origin = 0;       // file offset of input offset 0
  uint64_t input_size = 0;  // input bytes when the run began
  Options options;
  PieceParameters parameters;
};

namespace {

// What a worker knows of the run it is doing.
struct PieceRun {
  Piece* own_piece = nullptr;   // the piece the run started at
  uint64_t index = 0;           // its number
  uint64_t last_piece = 0;      // the last piece the run covers
  uint64_t end = 0;             // input offset where `last_piece` ends
  uint64_t window_limit = 0;    // cuts below this offset are noted
  uint64_t seek_to = 0;         // while seeking a join: the next noted cut
  bool published = true;        // the noted cuts were handed over
  bool joined = false;          // the run joined the next piece's run
  bool gave_up = false;         // its piece was taken over: stop
  uint64_t output_handed_over = 0;  // bytes of each output given the writer
  uint64_t unknown_handed_over = 0;
  std::vector<CleanCut> cuts;   // cuts noted so far
  std::string held_output;      // output delivered, not yet handed over
  std::string held_unknown;
  EventRecords held_records;    // with Options::events: of `held_output`
};

// What a worker keeps from one run to the next: the analysis with its
// walk cache and memory of stretches, which stay warm.
struct Worker {
  PieceCoordination* coordination = nullptr;
  std::unique_ptr<Analyser> analyser;
  PieceRun run;
  bool started = false;  // the worker has started a run
  // For its first run, when it is not the first piece's: the caches to
  // start from (null: start empty).
  std::shared_ptr<const SeedCaches> seed;
};

// The first run has analysed what the seed is made of (or will make
// none): the other workers may start. Under the lock.
void SeedDone(PieceCoordination& c, std::shared_ptr<const SeedCaches> seed) {
  c.seed = std::move(seed);
  c.seed_done = true;
  c.cv.notify_all();
}

// Where piece `j` (>= 1) starts.
uint64_t PieceStartOf(const PieceCoordination& c, uint64_t j) {
  return PieceStart(c.fd, c.origin, c.input_size, j, c.parameters.piece_bytes,
                    c.options.utf8);
}

// Piece `i`, created if need be. Under the lock; i >= c.first_piece (pieces
// below were written past and dropped).
Piece& PieceAt(PieceCoordination& c, uint64_t i) {
  while (c.first_piece + c.pieces.size() <= i) {
    const uint64_t j = c.first_piece + c.pieces.size();
    Piece& piece = c.pieces.emplace_back();
    // Piece j - 1 has just found where piece j starts.
    piece.start = j == 0 ? 0 : c.pieces.size() > 1 ? c.pieces[c.pieces.size() - 2].end
                                                   : PieceStartOf(c, j);
    piece.end = j + 1 == c.piece_count ? c.input_size : PieceStartOf(c, j + 1);
  }
  return c.pieces[i - c.first_piece];
}

// Buffers kept for reuse, at most this many of each kind.
constexpr size_t kMaxFreeBuffers = 4;

// Gives `text` back for reuse. Under the lock.
void GiveBack(PieceCoordination& c, std::string& text) {
  if (text.capacity() == 0 || c.free_texts.size() >= kMaxFreeBuffers ||
      text.capacity() > 2 * c.parameters.held_bytes) {
    std::string().swap(text);
    return;
  }
  text.clear();
  c.free_texts.emplace_back().swap(text);
}

// Puts an empty buffer, reused if one was given back, into `text`. Under
// the lock.
void TakeEmptyBuffer(PieceCoordination& c, std::string& text) {
  text.clear();
  if (c.free_texts.empty()) return;
  text.swap(c.free_texts.back());
  c.free_texts.pop_back();
}

// Hands the noted cuts over: those below `limit` are all there will be.
// Under the lock.
void Publish(PieceCoordination& c, PieceRun& w, uint64_t limit) {
  w.own_piece->cuts.swap(w.cuts);
  w.cuts.clear();
  if (!c.free_cut_lists.empty()) {
    w.cuts.swap(c.free_cut_lists.back());
    c.free_cut_lists.pop_back();
  }
  w.own_piece->cuts_limit = limit;
  w.own_piece->cuts_ready = true;
  w.published = true;
  c.cv.notify_all();
}

// Hands what the run holds to the writer. Under the lock.
void HandOver(PieceCoordination& c, PieceRun& w) {
  OutputChunk& chunk = w.own_piece->chunks.emplace_back();
  chunk.output_offset = w.output_handed_over;
  chunk.unknown_offset = w.unknown_handed_over;
  chunk.output_text.swap(w.held_output);
  chunk.unknown_text.swap(w.held_unknown);
  chunk.records.Swap(w.held_records);
  w.output_handed_over += chunk.output_text.size();
  w.unknown_handed_over += chunk.unknown_text.size();
  TakeEmptyBuffer(c, w.held_output);
  if (!chunk.unknown_text.empty()) TakeEmptyBuffer(c, w.held_unknown);
  c.cv.notify_all();
}

// The run holds more than its bound: hand its output to the writer when it
// is the run being written, else hand its cuts over as far as they go and
// wait for its turn. False when the run's piece was taken over meanwhile.
bool HandOverHeld(PieceCoordination& c, PieceRun& w) {
  std::unique_lock<std::mutex> lock(c.mutex);
  // No cut is noted below the latest one noted from now on.
  if (!w.published)
    Publish(c, w, std::min(w.window_limit, w.cuts.back().offset + 1));
  c.cv.wait(lock, [&] {
    return c.being_written == w.index || w.own_piece->abandoned.load();
  });
  if (w.own_piece->abandoned.load()) return false;
  HandOver(c, w);
  c.cv.wait(lock, [&] {
    return w.own_piece->chunks.size() <= kQueuedChunks ||
           w.own_piece->abandoned.load() || c.closed;
  });
  return !w.own_piece->abandoned.load() && !c.closed;
}

// The sink of a worker's analysis: holds the run's output.
bool HoldBatch(void* context, const Batch& batch) {
  Worker& worker = *static_cast<Worker*>(context);
  PieceRun& w = worker.run;
  if (w.own_piece->abandoned.load(std::memory_order_relaxed)) {
    w.gave_up = true;
    return false;
  }
  if (!batch.events.empty())
    w.held_records.Append(batch, w.held_output.size());
  w.held_output.append(batch.output);
  w.held_unknown.append(batch.unknown_words);
  if (w.held_output.size() + w.held_unknown.size() + w.held_records.Bytes() <
      worker.coordination->parameters.held_bytes)
    return true;
  if (HandOverHeld(*worker.coordination, w)) return true;
  w.gave_up = true;
  return false;
}

void PrepareAnalyser(PieceCoordination& c, Worker& worker) {
  worker.analyser = std::make_unique<Analyser>();
  // Each worker gets budget_shares / threads of the sequential loop's
  // budgets (at most all of them), so the peak memory stays bounded
  // whatever the number of workers.
  Analyser& an = *worker.analyser;
  const size_t threads = size_t(std::max(c.parameters.threads, 1));
  const size_t shares =
      std::clamp<size_t>(size_t(std::max(c.parameters.budget_shares, 1)), 1,
                         threads);
  auto share = [&](size_t budget, size_t least) {
    return std::max<size_t>(budget / threads * shares, least);
  };
  StretchMemory& m = an.memory;
  if (c.options.events) {
    // Stretches keep their reading parts only with events: Catalan running
    // text keeps about 1.3 parts and 10 symbols a stretch, so the symbols'
    // bound came first, and a file's --json run emptied its memory 8 times
    // where the plain run did 3. With twice the room, the bound on entries
    // is met first, as without events (6 % fewer instructions on ca.txt).
    m.max_parts *= 2;
    m.max_symbols *= 2;
  }
  m.max_entries = share(m.max_entries, 1 << 12);
  m.max_text_bytes = share(m.max_text_bytes, 1 << 16);
  m.max_parts = share(m.max_parts, 1 << 12);
  m.max_symbols = share(m.max_symbols, 1 << 15);
  an.dfa.budget_bytes = share(an.dfa.budget_bytes, 1 << 16);
}

// Whether the boundary the analysis stands at is one where a join leaves
// the events' consumers what one run gives them: with events, not right
// after a character written as it came, since the characters that follow
// it may be too, and consumers read a batch's run of such characters as
// one piece (a join there would cut it in two).
bool JoinsBetweenLines(const Analyser& an) {
  if (!an.options.events) return true;
  const std::vector<Event>& events = an.output.events;
  return !events.empty() && events.back().kind != PieceKind::kCharacter;
}

// As NoteCleanCuts, but notes only the first clean boundary at or past
// `spacing` bytes after the last boundary it stopped at: the run before
// steps from noted cut to noted cut until it meets one (JoinOrTakeOver), so
// a few cuts are enough, and each stop costs a return from the stepping
// call (noting every cut of a 4 KiB window cost 2 % of a worker's
// instructions).
Step NoteSomeCleanCuts(Analyser& an, uint64_t window_end, uint64_t spacing,
                       std::vector<CleanCut>& cuts) {
  uint64_t at = cuts.empty() ? 0 : cuts.back().offset;
  for (;;) {
    const Step step = AdvanceAnalysis(an, at + spacing);
    if (step.reached != Reached::kBoundary || step.offset >= window_end)
      return step;
    if (step.clean && JoinsBetweenLines(an))
      cuts.push_back(CleanCut{step.offset, TextWritten(an.output),
                              UnknownWritten(an.output)});
    at = step.offset;
  }
}

// What the run does at a boundary at or past the end of what it covers.
enum class Continue : uint8_t {
  kSeek,       // look for a join at the next noted cut (PieceRun::seek_to)
  kToEnd,      // go on to the end of what the run now covers
  kStop,       // joined, or given up
};

// The run has reached a boundary at or past the end of the pieces it
// covers: join the next piece's run there if that run noted the same clean
// cut; take the next piece over if it has no run of its own or the join
// cannot be.
Continue JoinOrTakeOver(PieceCoordination& c, PieceRun& w, Analyser& an,
                        const Step& step) {
  std::unique_lock<std::mutex> lock(c.mutex);
  for (;;) {
    if (w.own_piece->abandoned.load()) return Continue::kStop;
    const uint64_t i = w.last_piece + 1;
    if (i >= c.piece_count) {
      w.end = kNone;
      return Continue::kToEnd;
    }
    Piece& next = PieceAt(c, i);
    if (next.status == kOwnRun && !next.abandoned.load()) {
      if (!next.cuts_ready) {
        c.cv.wait(lock);
        continue;
      }
      if (step.offset < next.cuts_limit) {
        // The run's tail cuts are its clean boundaries, met one at a time.
        const CleanCut tail{step.offset, TextWritten(an.output),
                            UnknownWritten(an.output)};
        const RangeJoin join = step.clean ? FindJoin({&tail, 1}, next.cuts)
                                          : RangeJoin{};
        if (!join.found) {
          // Step to the next cut the later run noted: once both runs cut
          // the text alike, the boundary met there is that cut.
          const auto later = std::upper_bound(
              next.cuts.begin(), next.cuts.end(), step.offset,
              [](uint64_t offset, const CleanCut& cut) {
                return offset < cut.offset;
              });
          w.seek_to = later != next.cuts.end() ? later->offset
                                               : next.cuts_limit;
          return Continue::kSeek;
        }
        Piece& own = *w.own_piece;
        own.next = i;
        own.cut = join.later;
        own.output_end = join.earlier.output_bytes;
        own.unknown_end = join.earlier.unknown_bytes;
        w.joined = true;
        return Continue::kStop;
      }
    }
    // The run takes piece i over. Only the run being written may, so that
    // what a run holds stays about one piece's output: the others wait
    // (the run being written never waits for them).
    if (c.being_written != w.index) {
      c.cv.wait(lock);
      continue;
    }
    // Past its window without meeting a cut of it: give that run up.
    if (next.status == kOwnRun) next.abandoned.store(true);
    if (next.status == kFree) next.status = kCovered;
    HandOver(c, w);
    w.last_piece = i;
    c.written_front = i;
    w.end = next.end;
    if (step.offset < w.end) return Continue::kToEnd;
  }
}

// Runs piece `i` from its first byte, as if the input began there.
void RunPiece(PieceCoordination& c, Worker& worker, uint64_t i, Piece& piece) {
  PieceRun& w = worker.run;
  std::vector<CleanCut> cuts;
  cuts.swap(w.cuts);  // keeps its room
  std::string held_output, held_unknown;
  held_output.swap(w.held_output);
  held_unknown.swap(w.held_unknown);
  EventRecords held_records;
  held_records.Swap(w.held_records);
  held_records.Clear();
  w = PieceRun{};
  w.held_records.Swap(held_records);
  w.cuts.swap(cuts);
  w.cuts.clear();
  w.held_output.swap(held_output);
  w.held_output.clear();
  w.held_unknown.swap(held_unknown);
  w.held_unknown.clear();
  w.own_piece = &piece;
  w.index = i;
  w.last_piece = i;
  w.end = i + 1 < c.piece_count ? piece.end : kNone;
  Analyser& an = *worker.analyser;
  Input input;
  input.fd = c.fd;
  input.file_offset = c.origin + int64_t(piece.start);
  input.offset = piece.start;
  StartAnalysis(an, c.automaton, c.options, input, HoldBatch, &worker);
  an.output.threshold = c.parameters.batch_bytes;
  // Where the first run, when the other workers wait for it, copies its
  // caches for them. Read without the lock: only this run sets seed_done
  // once the workers have started.
  uint64_t seed_at = i == 0 && !c.seed_done ? c.parameters.seed_bytes : kNone;
  if (worker.seed) {
    // The caches only make the analysis faster: any state they were left
    // in by a run with the same dictionary and options will do.
    an.dfa = worker.seed->dfa;
    an.memory = worker.seed->memory;
    worker.seed.reset();
  }
  Step step;
  if (i > 0) {
    // The run's start is a clean cut: nothing read, nothing waiting.
    w.published = false;
    w.window_limit = std::min(piece.start + c.parameters.window_bytes,
                              piece.end);
    w.cuts.push_back(CleanCut{piece.start, 0, 0});
    step = NoteSomeCleanCuts(an, w.window_limit, c.parameters.cut_spacing,
                             w.cuts);
    if (!w.published) {
      std::lock_guard<std::mutex> lock(c.mutex);
      // After a failure, cuts past the last boundary were never reached.
      Publish(c, w, step.reached != Reached::kError
                        ? w.window_limit
                        : std::min(w.window_limit, w.cuts.back().offset + 1));
    }
  } else {
    step = AdvanceAnalysis(an, std::min(seed_at, w.end));
  }
  while (step.reached == Reached::kBoundary) {
    if (step.offset >= seed_at) {
      // The first run: the other workers wait for a copy of its caches,
      // made at its first boundary past seed_bytes.
      auto seed = std::make_shared<const SeedCaches>(SeedCaches{an.dfa, an.memory});
      seed_at = kNone;
      std::lock_guard<std::mutex> lock(c.mutex);
      SeedDone(c, std::move(seed));
    }
    if (step.offset < w.end) {
      step = AdvanceAnalysis(an, std::min(seed_at, w.end));
      continue;
    }
    const Continue next = JoinOrTakeOver(c, w, an, step);
    if (next == Continue::kStop) break;
    step = AdvanceAnalysis(an, next == Continue::kSeek ? w.seek_to : w.end);
  }
  // What the analysis still holds belongs to the run up to its join.
  if (step.reached == Reached::kBoundary) {
    try {
      Deliver(an.output);
    } catch (const AnalysisStopped&) {
      w.gave_up = true;
    }
  }
  std::lock_guard<std::mutex> lock(c.mutex);
  if (!w.published) Publish(c, w, w.window_limit);
  const bool failed = step.reached == Reached::kError;
  if (piece.abandoned.load() || w.gave_up) {
    for (OutputChunk& chunk : piece.chunks) {
      GiveBack(c, chunk.output_text);
      GiveBack(c, chunk.unknown_text);
    }
    piece.chunks.clear();
  } else {
    HandOver(c, w);
    if (!w.joined || failed) {
      piece.output_end = w.output_handed_over;
      piece.unknown_end = w.unknown_handed_over;
    }
    piece.failed = failed;
    if (failed) piece.error = an.error;
  }
  piece.finished = true;
  if (!c.seed_done) SeedDone(c, nullptr);
  if (InvalidUtf8Met(an).count > 0) c.met_invalid_utf8 = true;
  c.cv.notify_all();
  // A failure may leave the walk half done: start the next run afresh.
  if (failed) PrepareAnalyser(c, worker);
}

void WorkerLoop(PieceCoordination& c) {
  Worker worker;
  worker.coordination = &c;
  PrepareAnalyser(c, worker);
  for (;;) {
    Piece* piece = nullptr;
    uint64_t i = 0;
    {
      std::unique_lock<std::mutex> lock(c.mutex);
      for (;;) {
        if (c.closed) return;
        c.next_to_start = std::max(c.next_to_start, c.first_piece);
        while (c.next_to_start < c.piece_count &&
               PieceAt(c, c.next_to_start).status != kFree)
          ++c.next_to_start;
        if (c.next_to_start >= c.piece_count) return;
        // A worker's first piece, but for the first piece, waits for the
        // first run's caches.
        const bool wait_for_seed =
            !worker.started && c.next_to_start > 0 && !c.seed_done;
        if (!wait_for_seed &&
            c.next_to_start <= c.written_front + c.parameters.pieces_ahead)
          break;
        c.cv.wait(lock);
      }
      i = c.next_to_start++;
      piece = &PieceAt(c, i);
      piece->status = kOwnRun;
      if (!worker.started && i > 0 && c.seed) {
        worker.seed = c.seed;
        if (--c.seed_takers == 0) c.seed.reset();
      }
      worker.started = true;
    }
    RunPiece(c, worker, i, *piece);
  }
}

// A worker, which reports running out of memory instead of ending the
// program: the writer then stops with that failure.
void WorkOrGiveUp(PieceCoordination& c) {
  try {
    WorkerLoop(c);
  } catch (const std::bad_alloc&) {
    std::lock_guard<std::mutex> lock(c.mutex);
    c.out_of_memory = true;
    c.cv.notify_all();
  }
}

// Hands [output_a, output_b) of `chunk`'s output to the sink as the batches
// of its segments, with their events; `unknown_words` goes with the first.
// Joins are at clean cuts, between stretches: the events of the part are
// those written within it, whole. The events of a segment the part starts
// inside are rebased in place. False when the sink refused a batch.
bool WriteSegments(OutputChunk& chunk, size_t output_a, size_t output_b,
                   std::string_view unknown_words, BatchSink sink,
                   void* sink_context, uint64_t& written) {
  const EventRecords& r = chunk.records;
  for (size_t k = 0; k < r.segments.size(); ++k) {
    const EventRecords::Segment& segment = r.segments[k];
    const bool last = k + 1 == r.segments.size();
    const EventRecords::Segment end_of_records{
        chunk.output_text.size(), r.events.size(), r.parts.size(),
        r.symbols.size(), r.surfaces.size()};
    const EventRecords::Segment& next = last ? end_of_records : r.segments[k + 1];
    const size_t a = std::max<size_t>(output_a, size_t(segment.output_begin));
    const size_t b = std::min<size_t>(output_b, size_t(next.output_begin));
    if (a >= b) continue;
    const size_t from = a - size_t(segment.output_begin);  // in the segment
    const size_t to = b - size_t(segment.output_begin);
    Event* const events = chunk.records.events.data();
    Event* first = std::lower_bound(
        events + segment.first_event, events + next.first_event, from,
        [](const Event& e, size_t at) { return e.output_begin < at; });
    Event* end = std::lower_bound(
        first, events + next.first_event, to,
        [](const Event& e, size_t at) { return e.output_begin < at; });
    for (Event* e = first; e != end && from > 0; ++e) {
      assert(e->output_end <= to);
      e->output_begin -= uint32_t(from);
      e->output_end -= uint32_t(from);
    }
    Batch batch;
    batch.output = std::string_view(chunk.output_text).substr(a, b - a);
    batch.output_offset = written;
    batch.unknown_words = unknown_words;
    batch.events = std::span<const Event>(first, size_t(end - first));
    batch.parts = std::span<const ReadingPart>(r.parts).subspan(
        segment.first_part, next.first_part - segment.first_part);
    batch.symbols = std::span<const int32_t>(r.symbols).subspan(
        segment.first_symbol, next.first_symbol - segment.first_symbol);
    batch.surfaces = std::string_view(r.surfaces).substr(
        segment.first_surface, next.first_surface - segment.first_surface);
    written += batch.output.size();
    unknown_words = {};
    if (!sink(sink_context, batch)) return false;
  }
  if (unknown_words.empty()) return true;
  Batch batch;
  batch.output_offset = written;
  batch.unknown_words = unknown_words;
  return sink(sink_context, batch);
}

// Hands [begin, end) of a run's two outputs, given a chunk of them, to the
// caller's sink, with the events of that output. False when the sink
// refused it. `written` counts the output bytes handed to the sink so far.
bool WritePart(OutputChunk& chunk, const CleanCut& from, uint64_t output_end,
               uint64_t unknown_end, BatchSink sink, void* sink_context,
               uint64_t& written) {
  // [a, b) of `text`, whose first byte is `chunk_offset` of its stream.
  auto bounds = [](const std::string& text, uint64_t chunk_offset,
                   uint64_t begin, uint64_t end) {
    const uint64_t a = std::max(begin, chunk_offset);
    const uint64_t b = std::min(end, chunk_offset + text.size());
    return a < b ? std::pair<size_t, size_t>(a - chunk_offset, b - chunk_offset)
                 : std::pair<size_t, size_t>(0, 0);
  };
  const auto [output_a, output_b] = bounds(
      chunk.output_text, chunk.output_offset, from.output_bytes, output_end);
  const auto [unknown_a, unknown_b] =
      bounds(chunk.unknown_text, chunk.unknown_offset, from.unknown_bytes,
             unknown_end);
  const std::string_view unknown_words =
      std::string_view(chunk.unknown_text)
          .substr(unknown_a, unknown_b - unknown_a);
  if (!chunk.records.segments.empty())
    return WriteSegments(chunk, output_a, output_b, unknown_words, sink,
                         sink_context, written);
  Batch batch;
  batch.output = std::string_view(chunk.output_text)
                     .substr(output_a, output_b - output_a);
  batch.unknown_words = unknown_words;
  if (batch.output.empty() && batch.unknown_words.empty()) return true;
  batch.output_offset = written;
  written += batch.output.size();
  return sink(sink_context, batch);
}

// Hands the runs' outputs to the sink in input order, from piece 0's run
// along the joins; reports a failure where the sequential loop would have.
Step WriteInOrder(PieceCoordination& c, BatchSink sink, void* sink_context,
                  Error* error) {
  uint64_t i = 0;
  CleanCut from;  // where run i's output starts counting (the join)
  uint64_t written = 0;         // input offset where run i's output starts
  uint64_t output_written = 0;  // output bytes handed to the sink
  std::unique_lock<std::mutex> lock(c.mutex);
  for (;;) {
    Piece& piece = PieceAt(c, i);
    c.cv.wait(lock, [&] {
      return !piece.chunks.empty() || piece.finished || c.out_of_memory;
    });
    if (piece.chunks.empty() && !piece.finished) {
      *error = Error{messages::kStatusFailure, messages::kOutOfMemory};
      return Step{Reached::kError, piece.start, false};
    }
    if (!piece.chunks.empty()) {
      OutputChunk chunk = std::move(piece.chunks.front());
      piece.chunks.pop_front();
      c.cv.notify_all();
      // Chunks handed over before the run ended lie before its join.
      const bool end_known = piece.finished && piece.chunks.empty();
      const uint64_t output_end = end_known ? piece.output_end : kNone;
      const uint64_t unknown_end = end_known ? piece.unknown_end : kNone;
      lock.unlock();
      const bool taken = WritePart(chunk, from, output_end, unknown_end, sink,
                                   sink_context, output_written);
      lock.lock();
      GiveBack(c, chunk.output_text);
      GiveBack(c, chunk.unknown_text);
      if (!taken) return Step{Reached::kStopped, written, false};
      continue;
    }
    // The run is over and all of it written.
    const uint64_t next = piece.next;
    const CleanCut cut = piece.cut;
    if (piece.failed) {
      *error = piece.error;
      return Step{Reached::kError, piece.end, false};
    }
    c.being_written = next == kNone ? c.piece_count : next;
    // Only the run being written takes pieces over: this one covers its own.
    c.written_front = c.being_written;
    while (!c.pieces.empty() && c.first_piece < c.being_written &&
           (c.pieces.front().status != kOwnRun || c.pieces.front().finished)) {
      std::vector<CleanCut>& cuts = c.pieces.front().cuts;
      if (cuts.capacity() > 0 && c.free_cut_lists.size() < kMaxFreeBuffers)
        c.free_cut_lists.emplace_back().swap(cuts);
      c.pieces.pop_front();
      ++c.first_piece;
    }
    c.cv.notify_all();
    if (next == kNone) return Step{Reached::kEnd, c.input_size, false};
    i = next;
    from = cut;
    written = cut.offset;
  }
}

// Processors this process may run on.
int Processors() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return CPU_COUNT(&cpus);
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : int(n);
}

}  // namespace

Step NoteCleanCuts(Analyser& analyser, uint64_t window_end,
                   std::vector<CleanCut>& cuts) {
  for (;;) {
    const Step step = AdvanceAnalysis(analyser, 0);
    if (step.reached != Reached::kBoundary || step.offset >= window_end)
      return step;
    if (step.clean)
      cuts.push_back(CleanCut{step.offset, TextWritten(analyser.output),
                              UnknownWritten(analyser.output)});
  }
}

int PieceThreads() { return std::min(Processors(), 4); }

uint64_t PieceStart(int fd, int64_t origin, uint64_t size, uint64_t index,
                    uint64_t piece_bytes, bool utf8) {
  Input input;
  input.fd = fd;
  input.file_offset = origin;
  Options options;
  options.utf8 = utf8;
  return RangeStart(input, size, index * piece_bytes, options);
}

RangeJoin FindJoin(std::span<const CleanCut> tail_cuts,
                   std::span<const CleanCut> head_cuts) {
  auto next_head = head_cuts.begin();
  for (const CleanCut& tail : tail_cuts) {
    next_head = std::lower_bound(
        next_head, head_cuts.end(), tail.offset,
        [](const CleanCut& cut, uint64_t offset) { return cut.offset < offset; });
    if (next_head == head_cuts.end()) break;
    if (next_head->offset == tail.offset)
      return RangeJoin{true, tail, *next_head};
  }
  return RangeJoin{};
}

uint64_t RangeStart(const Input& input, uint64_t input_size, uint64_t at,
                    const Options& options) {
  if (!options.utf8 || at == 0 || at >= input_size) return at;
  // The 3 bytes before it and the 3 from it (those of the input).
  const uint64_t from = at >= 3 ? at - 3 : 0;
  const size_t wanted = size_t(std::min(at + 3, input_size) - from);
  uint8_t bytes[6];
  size_t got = 0;
  if (input.fd >= 0) {
    ssize_t r;
    do {
      r = pread(input.fd, bytes, wanted,
                std::max<int64_t>(input.file_offset, 0) + int64_t(from));
    } while (r < 0 && errno == EINTR);
    got = r < 0 ? 0 : size_t(r);
  } else if (from < input.bytes.size()) {
    got = std::min<size_t>(wanted, input.bytes.size() - size_t(from));
    std::memcpy(bytes, input.bytes.data() + from, got);
  }
  // Nothing to go by: any start gives the same bytes out, only later.
  if (got <= size_t(at - from)) return at;
  return std::min<uint64_t>(from + CharacterStartFrom(bytes, got, size_t(at - from)),
                            input_size);
}

bool CountInvalidUtf8InFile(int fd, int64_t origin, InvalidUtf8Count& invalid) {
  std::vector<uint8_t> buffer(size_t(1) << 16);
  size_t kept = 0;      // bytes of a unit cut by the last read, at the front
  uint64_t offset = 0;  // input offset of buffer[0]
  int64_t at = origin;
  for (;;) {
    const ssize_t r = pread(fd, buffer.data() + kept, buffer.size() - kept, at);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) {
      CountInvalidUtf8(buffer.data(), kept, offset, true, invalid);
      return true;
    }
    at += r;
    const size_t n = kept + size_t(r);
    const size_t used =
        CountInvalidUtf8(buffer.data(), n, offset, false, invalid);
    std::memmove(buffer.data(), buffer.data() + used, n - used);
    kept = n - used;
    offset += used;
  }
}

bool PiecesWorthwhile(int fd, const PieceParameters& parameters,
                      int64_t& start, uint64_t& size) {
  if (parameters.threads < 2 || parameters.piece_bytes == 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t now = lseek(fd, 0, SEEK_CUR);
  if (now < 0 || st.st_size <= now) return false;
  start = now;
  size = uint64_t(st.st_size - now);
  return size >= 2 * parameters.piece_bytes;
}

Step AnalyseInPieces(const Automaton* automaton, const Options& options,
                     int fd, int64_t start, uint64_t size,
                     const PieceParameters& parameters, BatchSink sink,
                     void* sink_context, Error* error, bool* started,
                     InputReport* report) {
  PieceCoordination c;
  c.automaton = automaton;
  c.fd = fd;
  c.origin = start;
  c.input_size = size;
  c.options = options;
  c.options.keep_previous_batch = false;  // workers' sinks copy their batches
  c.parameters = parameters;
  if (c.parameters.piece_bytes == 0) c.parameters.piece_bytes = 1;
  // A piece start moves forward by at most 3 bytes to a character start:
  // with at least 4 bytes a piece, starts stay in order.
  if (options.utf8 && c.parameters.piece_bytes < 4) c.parameters.piece_bytes = 4;
  c.parameters.pieces_ahead = std::max<uint64_t>(c.parameters.pieces_ahead, 2);
  c.parameters.cut_spacing = std::max<uint64_t>(c.parameters.cut_spacing, 1);
  c.seed_done = c.parameters.threads < 2 || c.parameters.seed_bytes == 0;
  c.seed_takers = std::max(c.parameters.threads, 1) - 1;
  c.piece_count = (size + c.parameters.piece_bytes - 1) / c.parameters.piece_bytes;
  if (c.piece_count == 0) c.piece_count = 1;
  // The last piece's start may move to the end: no piece is empty.
  if (c.piece_count > 1 && PieceStartOf(c, c.piece_count - 1) >= size)
    --c.piece_count;
  std::vector<std::thread> threads;
  try {
    for (int i = 0; i < std::max(parameters.threads, 1); ++i)
      threads.emplace_back([&c] { WorkOrGiveUp(c); });
  } catch (const std::system_error&) {
    // One worker is enough (it takes every piece over in turn); none, and
    // the caller reads the input as a stream.
  }
  *started = !threads.empty();
  if (threads.empty()) return Step{Reached::kError, 0, false};
  const Step step = WriteInOrder(c, sink, sink_context, error);
  {
    // Runs still going are not used: stop them.
    std::lock_guard<std::mutex> lock(c.mutex);
    c.closed = true;
    for (Piece& piece : c.pieces) piece.abandoned.store(true);
    c.cv.notify_all();
  }
  for (std::thread& thread : threads) thread.join();
  lseek(fd, 0, SEEK_END);
  if (report != nullptr) {
    InvalidUtf8Count invalid;
    if (c.met_invalid_utf8 && step.reached == Reached::kEnd)
      CountInvalidUtf8InFile(fd, start, invalid);
    *report = InputReport{invalid.count, invalid.first_offset};
  }
  return step;
}

}  // namespace etiquem
