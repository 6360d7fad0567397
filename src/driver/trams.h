// Analysis of a regular file in stretches, on several threads at once.
//
// The analysis is sequential in principle: each attempt starts where the
// last written stretch ended. But between two attempts its state is small.
// When no superblank waits and what was already read after the next
// attempt's start is plain characters (a clean cut, see Tall), everything
// written from there on depends only on the input from that offset: the
// ring holds those same characters, the scanner stands outside a
// superblank, and the memory of attempts changes speed, never output. Two
// runs standing at clean cuts at the same offset write the same bytes from
// there on.
//
// So a file is cut into trams (stretches of ParametresTrams::mida bytes),
// and workers analyse several at once, each from its tram's first byte as
// if the input began there. The run of tram t notes its clean cuts in its
// first `finestra` bytes, with how much it had written at each. The run
// covering tram t-1, which stands at the true state, goes on past its end
// until it reaches a clean cut that t's run noted: there the two outputs
// join, and the earlier run stops. If it passes t's noted window without
// meeting one (a superblank straddling the boundary, say), it gives t's run
// up and analyses t itself; a run that reaches a tram nobody has started
// takes it over the same way, with no join. The calling thread writes the
// joined outputs in input order, one write per tram.
//
// Measured on 25.7 MB of Catalan (bench/README.md): two workers run the
// whole file in 0.5 s against 0.85 s for the sequential loop, with the
// same bytes out. Pipes and terminals keep the sequential loop, so that
// output keeps pace with input.
//
// A fatal error met by a run (ErrorTreball) is reported only if that run's
// output is the program's up to the error, after everything written before
// it, exactly as the sequential loop would have reported it.

#ifndef ETIQUEM_DRIVER_TRAMS_H_
#define ETIQUEM_DRIVER_TRAMS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "automaton/automat.h"
#include "output/sortida.h"

namespace etiquem {

struct Analisi;
struct Tall;
struct Coordinacio;
struct Tram;

struct ParametresTrams {
  // Bytes of input per tram. Each run's output is held until written, so
  // this bounds memory: 64 KiB measured as fast as 1 MiB (a tram's run
  // reads one block more than its tram, for the join).
  uint64_t mida = uint64_t(1) << 16;
  // Bytes of a tram's noted window. Runs of ordinary text meet a common cut
  // within a few words; only a superblank straddling the boundary takes
  // more, and then the run before takes the tram over.
  uint64_t finestra = uint64_t(1) << 12;
  int fils = 2;                           // worker threads
  // Trams a worker may start beyond the one being written (at least 2):
  // bounds the outputs held in memory.
  uint64_t avancats = 3;
};

// Options of the run: -s, -d, -a, -m (each 0 or 1).
struct OpcionsAnalisi {
  int s = 0, d = 0, a = 0, m = 0;
};

// A clean cut noted by a run: its input offset and the bytes the run had
// written to each output before it.
struct PuntTall {
  uint64_t x = 0;
  size_t sortida = 0;
  size_t desc = 0;
};

// What a worker's analysis knows of the run it is doing.
struct Treball {
  Coordinacio* c = nullptr;
  Tram* propi = nullptr;        // the tram the run started at
  uint64_t index = 0;           // its number
  uint64_t darrer = 0;          // the last tram the run covers
  uint64_t fi = 0;              // input offset where `darrer` ends
  uint64_t limit_finestra = 0;  // cuts below this offset are noted
  bool publicat = true;         // the noted cuts were handed over
  bool junta = false;           // the run joined the next tram's run
  uint64_t lliurat_sortida = 0; // bytes of each output handed to the writer
  uint64_t lliurat_desc = 0;
  std::vector<PuntTall> punts;  // cuts noted so far
  Sortida* sortida = nullptr;   // the run's outputs, held in memory
  Sortida* desc = nullptr;
};

// Worker threads worth starting here: one per processor, at most four
// (each holds its own memory of attempts, about 5 MB).
int FilsDeTrams();

// Called by the analysis (Despres) with where the next attempt starts.
void CompteTall(Treball& w, Analisi& an, const Tall& tall);

// Whether worth analysing `fd` in trams: a regular file, seekable, with at
// least two trams left to read and more than one processor to run them.
// `inici` gets the file offset where the input starts, `mida` its length.
bool TramsConvenen(int fd, const ParametresTrams& p, int64_t& inici,
                   uint64_t& mida);

// Analyses the `mida` bytes of `fd` from file offset `inici` in trams and
// writes the result to `sortida` (and the unknown words to `desconegudes`
// when -d): the same bytes, and the same failure, as the sequential loop.
// Leaves the file offset at the end of what was read. Returns false, having
// read nothing, when no thread could be started.
bool AnalitzaEnTrams(const Transductor* t, int fd, int64_t inici,
                     uint64_t mida, const OpcionsAnalisi& o,
                     const ParametresTrams& p, Sortida& sortida,
                     Sortida* desconegudes);

}  // namespace etiquem

#endif  // ETIQUEM_DRIVER_TRAMS_H_
