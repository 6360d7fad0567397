// Analysis in trams; see trams.h.
//
// All coordination goes through one mutex and one condition variable: the
// events (a tram started, a window handed over, a join, a run over, a tram
// written) come a few times per tram, so contention does not show.
//
// Deadlock freedom: a run waits only for the noted window of a later tram
// whose run has started, and every run hands its window over before it
// first waits (its window ends no later than its tram) or when it ends.
// Workers wait for permission to start a tram only while the writer is
// behind, and the writer waits only for a run that has started.

#include "driver/trams.h"

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

#include "driver/analisis.h"
#include "input/escaner.h"
#include "input/lector.h"

namespace etiquem {

namespace {

constexpr uint64_t kCap = UINT64_MAX;

enum EstatTram : uint8_t {
  LLIURE = 0,  // no run has started at it or reached it
  PROPI = 1,   // a run started at it
  COBERT = 2,  // a run that started earlier reached it first
};

// A piece of a run's output handed to the writer: bytes from `sortida` and
// `desc` onwards of the run's two outputs, counted from the run's start.
struct Peca {
  uint64_t sortida = 0;
  uint64_t desc = 0;
  std::string text_sortida;
  std::string text_desc;
};

}  // namespace

struct Tram {
  uint64_t inici = 0;  // input offsets [inici, fi)
  uint64_t fi = 0;
  EstatTram estat = LLIURE;
  // Set when an earlier run analyses this tram instead of its own run (which
  // then stops at its next refill or cut).
  std::atomic<bool> abandonat{false};
  // Handed over by its run once it passes its window (or ends): every
  // clean cut below `limit_punts` is in `punts`, in input order.
  bool punts_llestos = false;
  uint64_t limit_punts = 0;
  std::vector<PuntTall> punts;
  // The run's output, handed over in pieces, not yet written.
  std::deque<Peca> peces;
  // Set when its run is over (its last piece is in `peces`).
  bool acabat = false;
  uint64_t fi_sortida = 0;  // how much of its output counts: up to the join
  uint64_t fi_desc = 0;
  uint64_t seguent = kCap;  // tram whose run goes on after the join; kCap
                            // when the run reached the end of the input
  PuntTall tall;            // the join, in that run's outputs
  bool fallada = false;     // the run stopped on a fatal error
  ErrorTreball error;
};

struct Coordinacio {
  std::mutex m;
  std::condition_variable cv;
  // Trams primer, primer + 1, ...: created when first named, dropped once
  // written past and their own run (if any) is over.
  std::deque<Tram> trams;
  uint64_t primer = 0;
  uint64_t nombre = 0;          // trams in the input
  uint64_t per_comencar = 0;    // no tram below this one is left to start
  uint64_t escrivint = 0;       // the tram whose run is being written
  bool tancat = false;          // the writer is done; workers leave
  // Buffers given back once written or dropped, for the next pieces and
  // windows: after the first trams nothing is allocated per tram, and the
  // allocator is left no room to fragment.
  std::vector<std::string> textos_lliures;
  std::vector<std::vector<PuntTall>> punts_lliures;
  // Fixed for the run.
  const Transductor* t = nullptr;
  int fd = 0;
  int64_t origen = 0;           // file offset of input offset 0
  uint64_t mida = 0;            // input bytes when the run began
  OpcionsAnalisi o;
  ParametresTrams p;
};

namespace {

// Tram `i`, created if need be. Under the lock; i >= c.primer (trams below
// were written past and dropped).
Tram& TramDe(Coordinacio& c, uint64_t i) {
  while (c.primer + c.trams.size() <= i) {
    const uint64_t j = c.primer + c.trams.size();
    Tram& r = c.trams.emplace_back();
    r.inici = j * c.p.mida;
    r.fi = j + 1 == c.nombre ? c.mida : (j + 1) * c.p.mida;
  }
  return c.trams[i - c.primer];
}

// Buffers kept for reuse, at most this many of each kind.
constexpr size_t kLliuresMax = 4;

// Gives `text` back for reuse. Under the lock.
void TornaText(Coordinacio& c, std::string& text) {
  if (text.capacity() == 0 || c.textos_lliures.size() >= kLliuresMax) return;
  text.clear();
  c.textos_lliures.emplace_back().swap(text);
}

// Puts an empty buffer, reused if one was given back, into `text`. Under
// the lock.
void TextBuit(Coordinacio& c, std::string& text) {
  text.clear();
  if (c.textos_lliures.empty()) return;
  text.swap(c.textos_lliures.back());
  c.textos_lliures.pop_back();
}

// Hands the noted cuts over. Under the lock.
void Publica(Coordinacio& c, Treball& w, uint64_t limit) {
  w.propi->punts.swap(w.punts);
  w.punts.clear();
  if (!c.punts_lliures.empty()) {
    w.punts.swap(c.punts_lliures.back());
    c.punts_lliures.pop_back();
  }
  w.propi->limit_punts = limit;
  w.propi->punts_llestos = true;
  w.publicat = true;
  c.cv.notify_all();
}

// Hands what the run has written so far to the writer. Under the lock.
void Lliura(Coordinacio& c, Treball& w) {
  Peca& p = w.propi->peces.emplace_back();
  p.sortida = w.lliurat_sortida;
  p.desc = w.lliurat_desc;
  p.text_sortida.swap(w.sortida->buf);
  p.text_desc.swap(w.desc->buf);
  w.lliurat_sortida += p.text_sortida.size();
  w.lliurat_desc += p.text_desc.size();
  TextBuit(c, w.sortida->buf);
  if (!p.text_desc.empty()) TextBuit(c, w.desc->buf);
  c.cv.notify_all();
}

// What a worker keeps from one run to the next: reader, scanner, outputs
// and the analysis with its memory of attempts, which stays warm.
struct Treballador {
  Escaner e;
  Lector l;
  Sortida sortida;
  Sortida desc;
  std::unique_ptr<Analisi> an;
  Treball w;
};

void PreparaAnalisi(Coordinacio& c, Treballador& tr) {
  tr.an = std::make_unique<Analisi>();
  // The workers share the sequential loop's budget for the memory of
  // attempts, so the program's peak memory does not grow with their number.
  MemoriaIntents& m = tr.an->memoria;
  const size_t parts = size_t(std::max(c.p.fils, 1));
  m.max_nodes = std::max<size_t>(m.max_nodes / parts, 1 << 12);
  m.max_textos = std::max<size_t>(m.max_textos / parts, 1 << 16);
  IniciaAnalisi(*tr.an, c.t, &tr.l, &tr.sortida,
                c.o.d == 1 ? &tr.desc : nullptr);
}

// Runs tram `i` from its first byte, as if the input began there.
void CorreTram(Coordinacio& c, Treballador& tr, uint64_t i, Tram& r) {
  Treball& w = tr.w;
  std::vector<PuntTall> punts;
  punts.swap(w.punts);  // keeps its room
  punts.clear();
  w = Treball{};
  w.punts.swap(punts);
  w.c = &c;
  w.propi = &r;
  w.index = i;
  w.darrer = i;
  w.fi = r.fi;
  w.sortida = &tr.sortida;
  w.desc = &tr.desc;
  if (i > 0) {
    // The run's start is a clean cut: nothing read, nothing waiting.
    w.publicat = false;
    w.limit_finestra = std::min(r.inici + c.p.finestra, r.fi);
    w.punts.push_back(PuntTall{r.inici, 0, 0});
  }
  IniciaEscanerA(tr.e, c.fd, c.origen + int64_t(r.inici), r.inici);
  tr.e.abandona = &r.abandonat;
  tr.e.abans_de_llegir = &tr.sortida;
  IniciaLector(tr.l, &tr.e);
  tr.sortida.buf.clear();
  tr.desc.buf.clear();
  Analisi& an = *tr.an;
  an.treball = &w;
  an.atura = false;
  an.vigila = !w.publicat ? 0 : i + 1 < c.nombre ? w.fi : kCap;
  bool fallada = false;
  ErrorTreball error;
  try {
    Analisis(an, c.o.s, c.o.d, c.o.a, c.o.m);
  } catch (ErrorTreball& err) {
    fallada = true;
    error = std::move(err);
  }
  std::lock_guard<std::mutex> lk(c.m);
  if (!w.publicat) {
    // Cuts after a failure were never reached.
    const uint64_t limit =
        fallada ? std::min(w.limit_finestra, w.punts.back().x + 1)
                : w.limit_finestra;
    Publica(c, w, limit);
  }
  if (r.abandonat.load()) {
    tr.sortida.buf.clear();
    tr.desc.buf.clear();
    for (Peca& p : r.peces) {
      TornaText(c, p.text_sortida);
      TornaText(c, p.text_desc);
    }
    r.peces.clear();
  } else {
    Lliura(c, w);
    if (!w.junta || fallada) {
      r.fi_sortida = w.lliurat_sortida;
      r.fi_desc = w.lliurat_desc;
    }
    r.fallada = fallada;
    r.error = std::move(error);
  }
  r.acabat = true;
  c.cv.notify_all();
  // A failure may leave the walk half done: start the next run afresh.
  if (fallada) PreparaAnalisi(c, tr);
}

void Treballa(Coordinacio& c) {
  Treballador tr;
  EnMemoria(tr.sortida);
  EnMemoria(tr.desc);
  PreparaAnalisi(c, tr);
  for (;;) {
    Tram* r = nullptr;
    uint64_t i = 0;
    {
      std::unique_lock<std::mutex> lk(c.m);
      for (;;) {
        if (c.tancat) return;
        c.per_comencar = std::max(c.per_comencar, c.primer);
        while (c.per_comencar < c.nombre &&
               TramDe(c, c.per_comencar).estat != LLIURE)
          ++c.per_comencar;
        if (c.per_comencar >= c.nombre) return;
        if (c.per_comencar <= c.escrivint + c.p.avancats) break;
        c.cv.wait(lk);
      }
      i = c.per_comencar++;
      r = &TramDe(c, i);
      r->estat = PROPI;
    }
    CorreTram(c, tr, i, *r);
  }
}

// The run has reached a cut at or past the end of the trams it covers:
// join the next tram's run there if that run noted the same clean cut; take
// the next tram over if it has no run of its own or the join cannot be.
void Enllaca(Coordinacio& c, Treball& w, Analisi& an, const Tall& tall) {
  std::unique_lock<std::mutex> lk(c.m);
  for (;;) {
    if (w.propi->abandonat.load()) {
      an.atura = true;
      return;
    }
    const uint64_t i = w.darrer + 1;
    if (i >= c.nombre) {
      an.vigila = kCap;
      return;
    }
    Tram& seg = TramDe(c, i);
    if (seg.estat == PROPI && !seg.abandonat.load()) {
      if (!seg.punts_llestos) {
        c.cv.wait(lk);
        continue;
      }
      if (tall.x < seg.limit_punts) {
        if (!tall.net) return;
        auto it = std::lower_bound(
            seg.punts.begin(), seg.punts.end(), tall.x,
            [](const PuntTall& a, uint64_t x) { return a.x < x; });
        if (it == seg.punts.end() || it->x != tall.x) return;
        Tram& r = *w.propi;
        r.seguent = i;
        r.tall = *it;
        r.fi_sortida = w.lliurat_sortida + w.sortida->buf.size();
        r.fi_desc = w.lliurat_desc + w.desc->buf.size();
        w.junta = true;
        an.atura = true;
        return;
      }
    }
    // The run takes tram i over. Only the run being written may, so that
    // what a run holds stays about one tram's output: the others wait
    // (the run being written never waits for them).
    if (c.escrivint != w.index) {
      c.cv.wait(lk);
      continue;
    }
    if (seg.estat == PROPI && !seg.abandonat.load()) {
      // Past its window without meeting a cut of it: give that run up.
      seg.abandonat.store(true);
    }
    if (seg.estat == LLIURE) seg.estat = COBERT;
    Lliura(c, w);
    w.darrer = i;
    w.fi = seg.fi;
    an.vigila = w.fi;
    if (tall.x < w.fi) return;
  }
}

// Writes [inici, fi) of one output of a run, given a piece of it that
// starts at `peca`.
void EscriuPart(Sortida& s, const std::string& text, uint64_t peca,
                uint64_t inici, uint64_t fi) {
  const uint64_t a = std::max(inici, peca);
  const uint64_t b = std::min(fi, peca + text.size());
  if (a < b) EscriuGran(s, std::string_view(text).substr(a - peca, b - a));
}

// Writes the runs' outputs in input order, from tram 0's run along the
// joins, one write per piece; reports a fatal error where the sequential
// loop would have. Returns at the end of input.
void Escriu(Coordinacio& c, Sortida& sortida, Sortida* desconegudes) {
  uint64_t i = 0;
  PuntTall des_de;  // where run i's output starts counting (the join)
  std::unique_lock<std::mutex> lk(c.m);
  for (;;) {
    Tram& r = TramDe(c, i);
    c.cv.wait(lk, [&r] { return !r.peces.empty() || r.acabat; });
    if (!r.peces.empty()) {
      Peca p = std::move(r.peces.front());
      r.peces.pop_front();
      // Pieces handed over before the run ended lie before its join.
      const bool fi_sabut = r.acabat && r.peces.empty();
      const uint64_t fi_s = fi_sabut ? r.fi_sortida : kCap;
      const uint64_t fi_d = fi_sabut ? r.fi_desc : kCap;
      lk.unlock();
      EscriuPart(sortida, p.text_sortida, p.sortida, des_de.sortida, fi_s);
      Buida(sortida);
      if (desconegudes != nullptr) {
        EscriuPart(*desconegudes, p.text_desc, p.desc, des_de.desc, fi_d);
        Buida(*desconegudes);
      }
      lk.lock();
      TornaText(c, p.text_sortida);
      TornaText(c, p.text_desc);
      continue;
    }
    // The run is over and all of it written.
    const uint64_t seguent = r.seguent;
    const PuntTall tall = r.tall;
    if (r.fallada) {
      const ErrorTreball error = r.error;
      lk.unlock();
      Acaba(error.estat, error.missatge, &sortida, desconegudes);
    }
    c.escrivint = seguent == kCap ? c.nombre : seguent;
    while (!c.trams.empty() && c.primer < c.escrivint &&
           (c.trams.front().estat != PROPI || c.trams.front().acabat)) {
      std::vector<PuntTall>& punts = c.trams.front().punts;
      if (punts.capacity() > 0 && c.punts_lliures.size() < kLliuresMax)
        c.punts_lliures.emplace_back().swap(punts);
      c.trams.pop_front();
      ++c.primer;
    }
    c.cv.notify_all();
    if (seguent == kCap) return;
    i = seguent;
    des_de = tall;
  }
}

// Processors this process may run on.
int Processadors() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return CPU_COUNT(&cpus);
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : int(n);
}

}  // namespace

void CompteTall(Treball& w, Analisi& an, const Tall& tall) {
  Coordinacio& c = *w.c;
  if (w.propi->abandonat.load(std::memory_order_relaxed)) {
    an.atura = true;
    return;
  }
  if (!w.publicat) {
    if (tall.x < w.limit_finestra) {
      if (tall.net)
        w.punts.push_back(PuntTall{tall.x,
                                   w.lliurat_sortida + w.sortida->buf.size(),
                                   w.lliurat_desc + w.desc->buf.size()});
      return;
    }
    {
      std::lock_guard<std::mutex> lk(c.m);
      Publica(c, w, w.limit_finestra);
    }
    an.vigila = w.index + 1 < c.nombre ? w.fi : kCap;
  }
  if (tall.x < w.fi) return;
  Enllaca(c, w, an, tall);
}

int FilsDeTrams() { return std::min(Processadors(), 4); }

bool TramsConvenen(int fd, const ParametresTrams& p, int64_t& inici,
                   uint64_t& mida) {
  if (p.fils < 2 || p.mida == 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t ara = lseek(fd, 0, SEEK_CUR);
  if (ara < 0 || st.st_size <= ara) return false;
  inici = ara;
  mida = uint64_t(st.st_size - ara);
  return mida >= 2 * p.mida;
}

bool AnalitzaEnTrams(const Transductor* t, int fd, int64_t inici,
                     uint64_t mida, const OpcionsAnalisi& o,
                     const ParametresTrams& p, Sortida& sortida,
                     Sortida* desconegudes) {
  Coordinacio c;
  c.t = t;
  c.fd = fd;
  c.origen = inici;
  c.mida = mida;
  c.o = o;
  c.p = p;
  if (c.p.mida == 0) c.p.mida = 1;
  c.p.avancats = std::max<uint64_t>(c.p.avancats, 2);
  c.nombre = (mida + c.p.mida - 1) / c.p.mida;
  if (c.nombre == 0) c.nombre = 1;
  std::vector<std::thread> fils;
  try {
    for (int i = 0; i < std::max(p.fils, 1); ++i)
      fils.emplace_back([&c] { Treballa(c); });
  } catch (const std::system_error&) {
    // One worker is enough (it takes every tram over in turn); none, and
    // the caller reads the input as a stream.
    if (fils.empty()) return false;
  }
  Escriu(c, sortida, desconegudes);
  {
    // Runs still going are not used: stop them.
    std::lock_guard<std::mutex> lk(c.m);
    c.tancat = true;
    for (Tram& r : c.trams) r.abandonat.store(true);
    c.cv.notify_all();
  }
  for (std::thread& f : fils) f.join();
  lseek(fd, 0, SEEK_END);
  return true;
}

}  // namespace etiquem
