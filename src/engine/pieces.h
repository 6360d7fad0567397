// Analysis of a regular file in stretches, on several threads at once.
//
// The analysis is sequential in principle: each attempt starts where the
// last written stretch ended. But between two attempts its state is small.
// When no superblank waits and what was already read after the next
// attempt's start is plain characters (a clean cut, see NextAttemptCut),
// everything written from there on depends only on the input from that offset:
// the ring holds those same characters, the scanner stands outside a
// superblank, and the memory of attempts changes speed, never output. Two
// runs standing at clean cuts at the same offset write the same bytes from
// there on.
//
// So a file is cut into pieces (stretches of PieceParameters::piece_bytes
// bytes), and workers analyse several at once, each from its piece's first byte
// as if the input began there. The run of piece t notes its clean cuts in its
// first `window_bytes` bytes, with how much it had written at each. The run
// covering piece t-1, which stands at the true state, goes on past its end
// until it reaches a clean cut that t's run noted: there the two outputs
// join, and the earlier run stops. If it passes t's noted window without
// meeting one (a superblank straddling the boundary, say), it gives t's run
// up and analyses t itself; a run that reaches a piece nobody has started
// takes it over the same way, with no join. The calling thread writes the
// joined outputs in input order, one write per piece.
//
// Measured on 25.7 MB of Catalan (bench/README.md): two workers run the
// whole file in 0.5 s against 0.85 s for the sequential loop, with the
// same bytes out. Pipes and terminals keep the sequential loop, so that
// output keeps pace with input.
//
// A fatal error met by a run (PieceError) is reported only if that run's
// output is the program's up to the error, after everything written before
// it, exactly as the sequential loop would have reported it.

#ifndef ETIQUEM_ENGINE_PIECES_H_
#define ETIQUEM_ENGINE_PIECES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/automaton.h"
#include "engine/output_buffer.h"

namespace etiquem {

struct Analysis;
struct NextAttemptCut;
struct PieceCoordination;
struct Piece;

struct PieceParameters {
  // Bytes of input per piece. Each run's output is held until written, so
  // this bounds memory: 64 KiB measured as fast as 1 MiB (a piece's run
  // reads one block more than its piece, for the join).
  uint64_t piece_bytes = uint64_t(1) << 16;
  // Bytes of a piece's noted window. Runs of ordinary text meet a common cut
  // within a few words; only a superblank straddling the boundary takes
  // more, and then the run before takes the piece over.
  uint64_t window_bytes = uint64_t(1) << 12;
  int threads = 2;  // worker threads
  // Pieces a worker may start beyond the one being written (at least 2):
  // bounds the outputs held in memory.
  uint64_t pieces_ahead = 3;
};

// Options of the run: -s, -d, -a, -m (each 0 or 1).
struct AnalysisOptions {
  int surface_forms = 0, unknown_file = 0, apostrophe_blank = 0,
      mark_unknown = 0;
};

// A clean cut noted by a run: its input offset and the bytes the run had
// written to each output before it.
struct CleanCut {
  uint64_t offset = 0;
  size_t output_bytes = 0;
  size_t unknown_bytes = 0;
};

// What a worker's analysis knows of the run it is doing.
struct PieceRun {
  PieceCoordination* coordination = nullptr;
  Piece* own_piece = nullptr;       // the piece the run started at
  uint64_t index = 0;               // its number
  uint64_t last_piece = 0;          // the last piece the run covers
  uint64_t end = 0;                 // input offset where `last_piece` ends
  uint64_t window_limit = 0;        // cuts below this offset are noted
  bool published = true;            // the noted cuts were handed over
  bool joined = false;              // the run joined the next piece's run
  uint64_t output_handed_over = 0;  // bytes of each output handed to the writer
  uint64_t unknown_handed_over = 0;
  std::vector<CleanCut> cuts;      // cuts noted so far
  OutputBuffer* output = nullptr;  // the run's outputs, held in memory
  OutputBuffer* unknown_output = nullptr;
};

// Worker threads worth starting here: one per processor, at most four
// (each holds its own memory of attempts, about 5 MB).
int PieceThreads();

// Called by the analysis (AfterAttempt) with where the next attempt starts.
void NoteCut(PieceRun& w, Analysis& analysis, const NextAttemptCut& cut);

// Whether worth analysing `fd` in pieces: a regular file, seekable, with at
// least two pieces left to read and more than one processor to run them.
// `start` gets the file offset where the input starts, `size` its length.
bool PiecesWorthwhile(int fd, const PieceParameters& p, int64_t& start,
                      uint64_t& size);

// Analyses the `size` bytes of `fd` from file offset `start` in pieces and
// writes the result to `output` (and the unknown words to `unknown_output`
// when -d): the same bytes, and the same failure, as the sequential loop.
// Leaves the file offset at the end of what was read. Returns false, having
// read nothing, when no thread could be started.
bool AnalyseInPieces(const Automaton* t, int fd, int64_t start, uint64_t size,
                     const AnalysisOptions& options, const PieceParameters& p,
                     OutputBuffer& output, OutputBuffer* unknown_output);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_PIECES_H_
