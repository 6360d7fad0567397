// Analysis of a regular file in pieces, on several threads at once.
//
// The analysis is sequential in principle: each attempt starts where the
// last written stretch ended. But between two attempts its state is small.
// At a clean cut (no superblank waits and what was already read after the
// next attempt's start is plain characters; see BoundaryAfter) everything
// written from there on depends only on the input from that offset: the
// ring holds those same characters, the scanner stands outside a
// superblank, and the memory of stretches changes speed, never output. Two
// runs standing at clean cuts at the same offset write the same bytes from
// there on.
//
// So a file is cut into pieces (PieceParameters::piece_bytes each), and
// workers analyse several at once, each from its piece's first byte as if
// the input began there. The run of piece t notes clean cuts in its first
// `window_bytes` bytes (one every `cut_spacing` bytes or so), with how much
// it had written at each. The run
// covering piece t-1, which stands at the true state, goes on past its end
// until it reaches a clean cut that t's run noted: there the two outputs
// join, and the earlier run stops. If it passes t's noted window without
// meeting one (a superblank straddling the boundary, say), it gives t's run
// up and analyses t itself; a run that reaches a piece nobody has started
// takes it over the same way, with no join. The calling thread hands the
// joined outputs to the caller's sink in input order.
//
// Memory is bounded whatever the output's size: a run holds at most about
// `held_bytes` of output. Past that, a run that is not yet being written
// hands its noted cuts over as far as it got and waits for its turn, and
// the run being written hands its output to the writer as it goes.
//
// Measured on 25.7 MB of Catalan (bench/README.md): two workers run the
// whole file in 0.5 s against 0.85 s for the sequential loop, with the
// same bytes out. Pipes and terminals keep the sequential loop, so that
// output keeps pace with input.
//
// A failure met by a run is reported only if that run's output is the
// analysis's up to the failure, after everything handed over before it,
// exactly as the sequential loop would have reported it.
//
// UTF-8 input: a piece starts at a character start (CharacterStartFrom; so
// pieces are at least 4 bytes, and each is at least 1). Cutting into
// characters is self-synchronising from a character start, so a run that
// starts there reads the characters a run from the start of the input
// reads. Invalid sequences are a property of the bytes alone: runs only
// note whether they met one (they can meet none in valid input, and then
// nothing more is done); if any did, the file is counted once more, whole,
// for the report.

#ifndef ETIQUEM_ENGINE_PIECES_H_
#define ETIQUEM_ENGINE_PIECES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/analysis.h"
#include "engine/automaton.h"
#include "engine/utf8.h"
#include "etiquem/etiquem.h"

namespace etiquem {

struct PieceParameters {
  // Bytes of input per piece. Each run's output is held until written, so
  // this bounds memory: 64 KiB measured as fast as 1 MiB (a piece's run
  // reads one block more than its piece, for the join).
  uint64_t piece_bytes = uint64_t(1) << 16;
  // Bytes of a piece's noted window. Runs of ordinary text meet a common
  // cut within a few words; only a superblank straddling the boundary takes
  // more, and then the run before takes the piece over.
  uint64_t window_bytes = uint64_t(1) << 12;
  // Bytes between the cuts a run notes in its window (at least 1: every
  // cut). The run before joins at the first noted cut it meets, at most
  // this many bytes past where the two runs first cut the text alike.
  uint64_t cut_spacing = 64;
  int threads = 2;  // worker threads
  // Pieces a worker may start beyond the one being written (at least 2):
  // bounds the outputs held in memory.
  uint64_t pieces_ahead = 3;
  // Output bytes a run holds before it hands them over or waits its turn.
  size_t held_bytes = size_t(1) << 20;
  // Output bytes a run's analysis gathers before it hands them to the run.
  size_t batch_bytes = size_t(1) << 18;
  // How many times the sequential loop's budgets for the walk's cache and
  // the memory of stretches the workers get together, each at most one
  // (so two workers keep full budgets, four half each). Every worker meets
  // the whole vocabulary of the text: on the 35.6 MB of es.txt, halved
  // budgets emptied each worker's memory 13 times and its walk cache 33
  // times (the sequential loop: 3 and 1), and took 4.3 s of processor time
  // against 2.5 s for the sequential loop; with full budgets, 2.3 to 3.6 s.
  int budget_shares = 2;
  // Input bytes the first piece's run analyses before the other workers
  // start, each from a copy of its walk cache and memory of stretches
  // rather than empty (0: they start at once, empty). The text's commonest
  // words are then walked and written once, not once per worker: on the
  // first 2 MB of ca.txt (es.txt), 220.8 (253.9) instructions a byte with
  // none, 212.5 (243.6) with 64 KiB, 203.9 (231.1) with 256 KiB, for the
  // same wall time.
  uint64_t seed_bytes = uint64_t(1) << 18;
};

// Advances `analyser` to its first attempt boundary at or past
// `window_end`, appending every clean cut before that to `cuts`. Returns
// the step reached (a boundary at or past `window_end`, the end, or a
// failure). With FindJoin (etiquem.h), which decides where two runs join,
// the piece mechanics the threads and the other front ends (AnalyseRange,
// and through it the Python package's distributed runner) share.
Step NoteCleanCuts(Analyser& analyser, uint64_t window_end,
                   std::vector<CleanCut>& cuts);

// Worker threads worth starting here: one per processor, at most four
// (each holds its own walk cache and memory of stretches, a few MB).
int PieceThreads();

// Whether worth analysing `fd` in pieces: a regular file, seekable, with at
// least two pieces left to read and more than one processor to run them.
// `start` gets the file offset where the input starts, `size` its length.
bool PiecesWorthwhile(int fd, const PieceParameters& parameters,
                      int64_t& start, uint64_t& size);

// Analyses the `size` bytes of `fd` from file offset `start` in pieces and
// hands the result to `sink`: the same bytes, and the same failure, as the
// sequential loop (batches may be cut elsewhere), and with Options::events
// the same events (a batch's events describe its output).
// Leaves the file offset at the end of what was read. Returns kEnd,
// kStopped or kError (with `error`); `started` is false, and nothing was
// read, when no thread could be started. After kEnd, `report` (when not
// null) says what the sequential loop's would.
Step AnalyseInPieces(const Automaton* automaton, const Options& options,
                     int fd, int64_t start, uint64_t size,
                     const PieceParameters& parameters, BatchSink sink,
                     void* sink_context, Error* error, bool* started,
                     InputReport* report = nullptr);

// Input offset where piece `index` (>= 1) of pieces of `piece_bytes` starts
// in the `size` bytes of `fd` from file offset `origin`: in UTF-8 mode the
// first character start at or after index * piece_bytes.
uint64_t PieceStart(int fd, int64_t origin, uint64_t size, uint64_t index,
                    uint64_t piece_bytes, bool utf8);

// Counts the invalid UTF-8 units of `fd` from file offset `origin` to its
// end. False when reading failed.
bool CountInvalidUtf8InFile(int fd, int64_t origin, InvalidUtf8Count& invalid);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_PIECES_H_
