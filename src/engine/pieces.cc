// Analysis in pieces; see pieces.h.
//
// All coordination goes through one mutex and one condition variable: the
// events (a piece started, a window handed over, a join, a run over, a piece
// written) come a few times per piece, so contention does not show.
//
// Deadlock freedom: a run waits only for the noted window of a later piece
// whose run has started, and every run hands its window over before it
// first waits (its window ends no later than its piece) or when it ends.
// Workers wait for permission to start a piece only while the writer is
// behind, and the writer waits only for a run that has started.

#include "engine/pieces.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/analysis.h"
#include "engine/reader.h"
#include "engine/scanner.h"

namespace etiquem {

namespace {

constexpr uint64_t kNone = UINT64_MAX;

enum PieceStatus : uint8_t {
  kFree = 0,     // no run has started at it or reached it
  kOwnRun = 1,   // a run started at it
  kCovered = 2,  // a run that started earlier reached it first
};

// A chunk of a run's output handed to the writer: bytes from `output_offset`
// and `unknown_offset` onwards of the run's two outputs, counted from the
// run's start.
struct OutputChunk {
  uint64_t output_offset = 0;
  uint64_t unknown_offset = 0;
  std::string output_text;
  std::string unknown_text;
};

}  // namespace

struct Piece {
  uint64_t start = 0;  // input offsets [start, end)
  uint64_t end = 0;
  PieceStatus status = kFree;
  // Set when an earlier run analyses this piece instead of its own run (which
  // then stops at its next refill or cut).
  std::atomic<bool> abandoned{false};
  // Handed over by its run once it passes its window (or ends): every
  // clean cut below `cuts_limit` is in `cuts`, in input order.
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
  bool failed = false;    // the run stopped on a fatal error
  PieceError error;
};

struct PieceCoordination {
  std::mutex mutex;
  std::condition_variable cv;
  // Pieces first_piece, first_piece + 1, ...: created when first named, dropped
  // once written past and their own run (if any) is over.
  std::deque<Piece> pieces;
  uint64_t first_piece = 0;
  uint64_t piece_count = 0;    // pieces in the input
  uint64_t next_to_start = 0;  // no piece below this one is left to start
  uint64_t being_written = 0;  // the piece whose run is being written
  bool closed = false;         // the writer is done; workers leave
  // Buffers given back once written or dropped, for the next pieces and
  // windows: after the first pieces nothing is allocated per piece, and the
  // allocator is left no room to fragment.
  std::vector<std::string> free_texts;
  std::vector<std::vector<CleanCut>> free_cut_lists;
  // Fixed for the run.
  const Automaton* automaton = nullptr;
  int fd = 0;
  int64_t origin = 0;       // file offset of input offset 0
  uint64_t input_size = 0;  // input bytes when the run began
  AnalysisOptions options;
  PieceParameters parameters;
};

namespace {

// Piece `i`, created if need be. Under the lock; i >= c.first_piece (pieces
// below were written past and dropped).
Piece& PieceAt(PieceCoordination& c, uint64_t i) {
  while (c.first_piece + c.pieces.size() <= i) {
    const uint64_t j = c.first_piece + c.pieces.size();
    Piece& r = c.pieces.emplace_back();
    r.start = j * c.parameters.piece_bytes;
    r.end = j + 1 == c.piece_count ? c.input_size
                                   : (j + 1) * c.parameters.piece_bytes;
  }
  return c.pieces[i - c.first_piece];
}

// Buffers kept for reuse, at most this many of each kind.
constexpr size_t kMaxFreeBuffers = 4;

// Gives `text` back for reuse. Under the lock.
void GiveBack(PieceCoordination& c, std::string& text) {
  if (text.capacity() == 0 || c.free_texts.size() >= kMaxFreeBuffers) return;
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

// Hands the noted cuts over. Under the lock.
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

// Hands what the run has written so far to the writer. Under the lock.
void HandOver(PieceCoordination& c, PieceRun& w) {
  OutputChunk& p = w.own_piece->chunks.emplace_back();
  p.output_offset = w.output_handed_over;
  p.unknown_offset = w.unknown_handed_over;
  p.output_text.swap(w.output->pending);
  p.unknown_text.swap(w.unknown_output->pending);
  w.output_handed_over += p.output_text.size();
  w.unknown_handed_over += p.unknown_text.size();
  TakeEmptyBuffer(c, w.output->pending);
  if (!p.unknown_text.empty()) TakeEmptyBuffer(c, w.unknown_output->pending);
  c.cv.notify_all();
}

// What a worker keeps from one run to the next: reader, scanner, outputs
// and the analysis with its memory of attempts, which stays warm.
struct Worker {
  Scanner scanner;
  Reader reader;
  OutputBuffer output;
  OutputBuffer unknown_output;
  std::unique_ptr<Analysis> analysis;
  PieceRun run;
};

void PrepareAnalysis(PieceCoordination& c, Worker& worker) {
  worker.analysis = std::make_unique<Analysis>();
  // The workers share the sequential loop's budget for the memory of
  // attempts, so the program's peak memory does not grow with their number.
  AttemptMemory& m = worker.analysis->memory;
  const size_t parts = size_t(std::max(c.parameters.threads, 1));
  m.max_nodes = std::max<size_t>(m.max_nodes / parts, 1 << 12);
  m.max_text_bytes = std::max<size_t>(m.max_text_bytes / parts, 1 << 16);
  InitAnalysis(*worker.analysis, c.automaton, &worker.reader, &worker.output,
               c.options.unknown_file == 1 ? &worker.unknown_output : nullptr);
}

// Runs piece `i` from its first byte, as if the input began there.
void RunPiece(PieceCoordination& c, Worker& worker, uint64_t i, Piece& r) {
  PieceRun& w = worker.run;
  std::vector<CleanCut> cuts;
  cuts.swap(w.cuts);  // keeps its room
  cuts.clear();
  w = PieceRun{};
  w.cuts.swap(cuts);
  w.coordination = &c;
  w.own_piece = &r;
  w.index = i;
  w.last_piece = i;
  w.end = r.end;
  w.output = &worker.output;
  w.unknown_output = &worker.unknown_output;
  if (i > 0) {
    // The run's start is a clean cut: nothing read, nothing waiting.
    w.published = false;
    w.window_limit = std::min(r.start + c.parameters.window_bytes, r.end);
    w.cuts.push_back(CleanCut{r.start, 0, 0});
  }
  InitScannerAt(worker.scanner, c.fd, c.origin + int64_t(r.start), r.start);
  worker.scanner.abandoned = &r.abandoned;
  worker.scanner.flush_before_read = &worker.output;
  InitReader(worker.reader, &worker.scanner);
  worker.output.pending.clear();
  worker.unknown_output.pending.clear();
  Analysis& analysis = *worker.analysis;
  analysis.piece_run = &w;
  analysis.stop = false;
  analysis.watch_from = !w.published            ? 0
                        : i + 1 < c.piece_count ? w.end
                                                : kNone;
  bool failed = false;
  PieceError error;
  try {
    RunAnalysis(analysis, c.options.surface_forms, c.options.unknown_file,
                c.options.apostrophe_blank, c.options.mark_unknown);
  } catch (PieceError& err) {
    failed = true;
    error = std::move(err);
  }
  std::lock_guard<std::mutex> lk(c.mutex);
  if (!w.published) {
    // Cuts after a failure were never reached.
    const uint64_t limit =
        failed ? std::min(w.window_limit, w.cuts.back().offset + 1)
               : w.window_limit;
    Publish(c, w, limit);
  }
  if (r.abandoned.load()) {
    worker.output.pending.clear();
    worker.unknown_output.pending.clear();
    for (OutputChunk& p : r.chunks) {
      GiveBack(c, p.output_text);
      GiveBack(c, p.unknown_text);
    }
    r.chunks.clear();
  } else {
    HandOver(c, w);
    if (!w.joined || failed) {
      r.output_end = w.output_handed_over;
      r.unknown_end = w.unknown_handed_over;
    }
    r.failed = failed;
    r.error = std::move(error);
  }
  r.finished = true;
  c.cv.notify_all();
  // A failure may leave the walk half done: start the next run afresh.
  if (failed) PrepareAnalysis(c, worker);
}

void WorkerLoop(PieceCoordination& c) {
  Worker worker;
  HoldInMemory(worker.output);
  HoldInMemory(worker.unknown_output);
  PrepareAnalysis(c, worker);
  for (;;) {
    Piece* r = nullptr;
    uint64_t i = 0;
    {
      std::unique_lock<std::mutex> lk(c.mutex);
      for (;;) {
        if (c.closed) return;
        c.next_to_start = std::max(c.next_to_start, c.first_piece);
        while (c.next_to_start < c.piece_count &&
               PieceAt(c, c.next_to_start).status != kFree)
          ++c.next_to_start;
        if (c.next_to_start >= c.piece_count) return;
        if (c.next_to_start <= c.being_written + c.parameters.pieces_ahead)
          break;
        c.cv.wait(lk);
      }
      i = c.next_to_start++;
      r = &PieceAt(c, i);
      r->status = kOwnRun;
    }
    RunPiece(c, worker, i, *r);
  }
}

// The run has reached a cut at or past the end of the pieces it covers:
// join the next piece's run there if that run noted the same clean cut; take
// the next piece over if it has no run of its own or the join cannot be.
void JoinOrTakeOver(PieceCoordination& c, PieceRun& w, Analysis& analysis,
                    const NextAttemptCut& cut) {
  std::unique_lock<std::mutex> lk(c.mutex);
  for (;;) {
    if (w.own_piece->abandoned.load()) {
      analysis.stop = true;
      return;
    }
    const uint64_t i = w.last_piece + 1;
    if (i >= c.piece_count) {
      analysis.watch_from = kNone;
      return;
    }
    Piece& next_piece = PieceAt(c, i);
    if (next_piece.status == kOwnRun && !next_piece.abandoned.load()) {
      if (!next_piece.cuts_ready) {
        c.cv.wait(lk);
        continue;
      }
      if (cut.offset < next_piece.cuts_limit) {
        if (!cut.clean) return;
        auto it = std::lower_bound(
            next_piece.cuts.begin(), next_piece.cuts.end(), cut.offset,
            [](const CleanCut& a, uint64_t x) { return a.offset < x; });
        if (it == next_piece.cuts.end() || it->offset != cut.offset) return;
        Piece& r = *w.own_piece;
        r.next = i;
        r.cut = *it;
        r.output_end = w.output_handed_over + w.output->pending.size();
        r.unknown_end =
            w.unknown_handed_over + w.unknown_output->pending.size();
        w.joined = true;
        analysis.stop = true;
        return;
      }
    }
    // The run takes piece i over. Only the run being written may, so that
    // what a run holds stays about one piece's output: the others wait
    // (the run being written never waits for them).
    if (c.being_written != w.index) {
      c.cv.wait(lk);
      continue;
    }
    if (next_piece.status == kOwnRun && !next_piece.abandoned.load()) {
      // Past its window without meeting a cut of it: give that run up.
      next_piece.abandoned.store(true);
    }
    if (next_piece.status == kFree) next_piece.status = kCovered;
    HandOver(c, w);
    w.last_piece = i;
    w.end = next_piece.end;
    analysis.watch_from = w.end;
    if (cut.offset < w.end) return;
  }
}

// Writes [start, end) of one output of a run, given a piece of it that
// starts at `piece`.
void WritePart(OutputBuffer& s, const std::string& text, uint64_t piece,
               uint64_t start, uint64_t end) {
  const uint64_t a = std::max(start, piece);
  const uint64_t b = std::min(end, piece + text.size());
  if (a < b) WriteLarge(s, std::string_view(text).substr(a - piece, b - a));
}

// Writes the runs' outputs in input order, from piece 0's run along the
// joins, one write per piece; reports a fatal error where the sequential
// loop would have. Returns at the end of input.
void Write(PieceCoordination& c, OutputBuffer& output,
           OutputBuffer* unknown_output) {
  uint64_t i = 0;
  CleanCut from;  // where run i's output starts counting (the join)
  std::unique_lock<std::mutex> lk(c.mutex);
  for (;;) {
    Piece& r = PieceAt(c, i);
    c.cv.wait(lk, [&r] { return !r.chunks.empty() || r.finished; });
    if (!r.chunks.empty()) {
      OutputChunk p = std::move(r.chunks.front());
      r.chunks.pop_front();
      // Pieces handed over before the run ended lie before its join.
      const bool end_known = r.finished && r.chunks.empty();
      const uint64_t output_end = end_known ? r.output_end : kNone;
      const uint64_t unknown_end = end_known ? r.unknown_end : kNone;
      lk.unlock();
      WritePart(output, p.output_text, p.output_offset, from.output_bytes,
                output_end);
      Flush(output);
      if (unknown_output != nullptr) {
        WritePart(*unknown_output, p.unknown_text, p.unknown_offset,
                  from.unknown_bytes, unknown_end);
        Flush(*unknown_output);
      }
      lk.lock();
      GiveBack(c, p.output_text);
      GiveBack(c, p.unknown_text);
      continue;
    }
    // The run is over and all of it written.
    const uint64_t next = r.next;
    const CleanCut cut = r.cut;
    if (r.failed) {
      const PieceError error = r.error;
      lk.unlock();
      Terminate(error.status, error.message, &output, unknown_output);
    }
    c.being_written = next == kNone ? c.piece_count : next;
    while (!c.pieces.empty() && c.first_piece < c.being_written &&
           (c.pieces.front().status != kOwnRun || c.pieces.front().finished)) {
      std::vector<CleanCut>& cuts = c.pieces.front().cuts;
      if (cuts.capacity() > 0 && c.free_cut_lists.size() < kMaxFreeBuffers)
        c.free_cut_lists.emplace_back().swap(cuts);
      c.pieces.pop_front();
      ++c.first_piece;
    }
    c.cv.notify_all();
    if (next == kNone) return;
    i = next;
    from = cut;
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

void NoteCut(PieceRun& w, Analysis& analysis, const NextAttemptCut& cut) {
  PieceCoordination& c = *w.coordination;
  if (w.own_piece->abandoned.load(std::memory_order_relaxed)) {
    analysis.stop = true;
    return;
  }
  if (!w.published) {
    if (cut.offset < w.window_limit) {
      if (cut.clean)
        w.cuts.push_back(CleanCut{
            cut.offset, w.output_handed_over + w.output->pending.size(),
            w.unknown_handed_over + w.unknown_output->pending.size()});
      return;
    }
    {
      std::lock_guard<std::mutex> lk(c.mutex);
      Publish(c, w, w.window_limit);
    }
    analysis.watch_from = w.index + 1 < c.piece_count ? w.end : kNone;
  }
  if (cut.offset < w.end) return;
  JoinOrTakeOver(c, w, analysis, cut);
}

int PieceThreads() { return std::min(Processors(), 4); }

bool PiecesWorthwhile(int fd, const PieceParameters& p, int64_t& start,
                      uint64_t& size) {
  if (p.threads < 2 || p.piece_bytes == 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t current = lseek(fd, 0, SEEK_CUR);
  if (current < 0 || st.st_size <= current) return false;
  start = current;
  size = uint64_t(st.st_size - current);
  return size >= 2 * p.piece_bytes;
}

bool AnalyseInPieces(const Automaton* t, int fd, int64_t start, uint64_t size,
                     const AnalysisOptions& options, const PieceParameters& p,
                     OutputBuffer& output, OutputBuffer* unknown_output) {
  PieceCoordination c;
  c.automaton = t;
  c.fd = fd;
  c.origin = start;
  c.input_size = size;
  c.options = options;
  c.parameters = p;
  if (c.parameters.piece_bytes == 0) c.parameters.piece_bytes = 1;
  c.parameters.pieces_ahead = std::max<uint64_t>(c.parameters.pieces_ahead, 2);
  c.piece_count =
      (size + c.parameters.piece_bytes - 1) / c.parameters.piece_bytes;
  if (c.piece_count == 0) c.piece_count = 1;
  std::vector<std::thread> threads;
  try {
    for (int i = 0; i < std::max(p.threads, 1); ++i)
      threads.emplace_back([&c] { WorkerLoop(c); });
  } catch (const std::system_error&) {
    // One worker is enough (it takes every piece over in turn); none, and
    // the caller reads the input as a stream.
    if (threads.empty()) return false;
  }
  Write(c, output, unknown_output);
  {
    // Runs still going are not used: stop them.
    std::lock_guard<std::mutex> lk(c.mutex);
    c.closed = true;
    for (Piece& r : c.pieces) r.abandoned.store(true);
    c.cv.notify_all();
  }
  for (std::thread& f : threads) f.join();
  lseek(fd, 0, SEEK_END);
  return true;
}

}  // namespace etiquem
