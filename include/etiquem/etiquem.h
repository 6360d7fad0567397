// The public interface of the etiquem engine: load a dictionary once, then
// analyse running text with it, on as many threads as you like.
//
// An analysis cuts the text into words as it reads, looks each stretch up in
// the dictionary (a letter transducer) by greedy longest match, and writes
// the text back with every recognised stretch replaced by its readings. The
// engine never exits, never prints and never throws: every failure comes
// back as an Error value whose message and status are the ones the etiquem
// program shows and ends with.
//
// What is written comes out in batches (see Batch): the annotated bytes, the
// unknown-word lines, and, when asked for, one event per written piece with
// its input offsets and its readings as symbols. A batch is handed to the
// caller's sink before the engine may wait for more input, when its buffers
// pass a bound, and at the end; so memory stays bounded and output keeps
// pace with input in a pipe. A batch points into the engine's buffers: it
// is valid during the sink's call (with Options::keep_previous_batch,
// until the next call returns).
//
//   etiquem::Error error;
//   auto dictionary = etiquem::Dictionary::Load("ca.bin", &error);
//   if (!dictionary) { report(error.message); return error.status; }
//   std::string annotated;
//   error = etiquem::AnnotateBytes(*dictionary, {}, "L'home va a casa.\n",
//                                  &annotated);

#ifndef ETIQUEM_ETIQUEM_H_
#define ETIQUEM_ETIQUEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace etiquem {

// A failure. `status` is 0 when nothing failed, else the exit status the
// etiquem program gives for it: 1 (files, writing, memory, the live-state
// limit), 2 (reading the input) or 255 (a missing or broken dictionary).
// `message` is one line ending in '\n', byte for byte what the program
// writes on standard error.
struct Error {
  int status = 0;
  std::string message;
  bool failed() const { return status != 0; }
};

struct Automaton;  // the loaded transducer (engine/automaton.h)

// A loaded dictionary: immutable, shared by any number of analyses on any
// number of threads.
class Dictionary {
 public:
  // Loads an automaton file. On failure returns null and fills `error`.
  static std::shared_ptr<const Dictionary> Load(const std::string& path,
                                                Error* error);
  // The same from the bytes of a file; `name` names it in messages.
  static std::shared_ptr<const Dictionary> FromBytes(const std::string& name,
                                                     std::string_view bytes,
                                                     Error* error);
  ~Dictionary();
  const Automaton& automaton() const { return *automaton_; }
  // The name of tag symbol `symbol` (>= kFirstTagSymbol), or null.
  const std::string* TagName(int32_t symbol) const;

 private:
  Dictionary();
  std::unique_ptr<Automaton> automaton_;
};

// Output symbols of a reading below this are characters (Latin-1 codes),
// from it on tags.
constexpr int32_t kFirstTagSymbol = 258;

// What an analysis writes, as the options of the etiquem program.
struct Options {
  bool surface_forms = false;     // -s: "form/" before each reading
  bool mark_unknown = false;      // -m: unknown words as <d>...</d>
  bool apostrophe_blank = false;  // -a: a blank after an apostrophe form
  bool unknown_words = false;     // -d: collect each unknown word as a line
  bool events = false;            // also describe each written piece
  bool utf8 = false;             // --utf8: UTF-8 text in and out
  // Batches marked Batch::lasting stay valid until the sink's next call
  // returns, not only during their own: the engine fills two sets of
  // buffers in turn. So a sink may hand a batch to another thread without
  // copying it, and wait in its next call until that thread is done with
  // it. The analysis's last batch does not last (with this option it comes
  // even when empty), so nothing is kept once the analysis has ended.
  // Costs the memory of one more batch.
  bool keep_previous_batch = false;
};

// What an analysis found in its input, beyond what it wrote. With
// Options::utf8, input that is not valid UTF-8 is still analysed and
// written back byte for byte (each invalid sequence is a character of its
// own that matches nothing); this says how many invalid sequences there
// were and where the first one starts, as an input offset.
struct InputReport {
  uint64_t invalid_utf8 = 0;
  uint64_t first_invalid_utf8 = 0;  // meaningful when invalid_utf8 > 0
};

// What a written piece of the output is.
enum class PieceKind : uint8_t {
  kReading,      // a recognised stretch, written as its readings
  kUnknownWord,  // a stretch the dictionary reads as unknown
  kCharacter,    // a character written as it came
  kSuperblank,   // a block of formatting, written as it came
};

// One part of a reading: a complete analysis, or one piece of a compound
// reading. Its output symbols are Batch::symbols[first_symbol,
// first_symbol + symbol_count), case not yet restored: `first_upper` and
// `latest_upper` say how (see RenderReadingPart).
struct ReadingPart {
  uint32_t first_symbol = 0;
  uint32_t symbol_count = 0;
  bool piece = false;         // a piece of a compound reading
  bool first_upper = false;   // the stretch's first character is a capital
  bool latest_upper = false;  // its last character is
};

// One written piece. Input offsets count bytes from the start of the input
// as the caller numbers it (Input::offset); the written bytes are
// Batch::output[output_begin, output_end). Pieces come in input order: each
// starts where the one before it ended, except the superblanks that lie
// inside a stretch, which follow that stretch. Two stretches of one batch
// with the same characters and readings may point at the same parts and
// surface bytes: they are written once per batch.
struct Event {
  PieceKind kind = PieceKind::kCharacter;
  uint64_t input_begin = 0;
  uint64_t input_end = 0;
  uint32_t output_begin = 0;
  uint32_t output_end = 0;
  uint32_t first_part = 0;  // kReading: Batch::parts[first_part, +part_count)
  uint32_t part_count = 0;
  // kReading and kUnknownWord: the input bytes of the stretch,
  // [input_begin, input_end), are Batch::surfaces[surface_begin,
  // surface_end). The other kinds are written as they came: their input
  // bytes are their written bytes.
  uint32_t surface_begin = 0;
  uint32_t surface_end = 0;
};

// What an analysis wrote since the previous batch.
struct Batch {
  std::string_view output;         // the annotated text
  uint64_t output_offset = 0;      // bytes of it written before this batch
  std::string_view unknown_words;  // whole lines, with Options::unknown_words
  std::span<const Event> events;   // with Options::events
  std::span<const ReadingPart> parts;
  std::span<const int32_t> symbols;
  std::string_view surfaces;       // with Options::events
  // With Options::keep_previous_batch: valid until the sink's next call
  // returns. False for a batch valid only during its call: a large
  // superblank, handed over where it lies in the input buffer, and the
  // analysis's last batch.
  bool lasting = false;
};

// Receives batches. Returning false stops the analysis, which then ends
// with the error the sink stored through `context` (a write that failed).
using BatchSink = bool (*)(void* context, const Batch& batch);

// Where the text comes from. `fd` >= 0: a descriptor, read with read(2), or
// with pread(2) from `file_offset` when that is >= 0; otherwise the bytes
// `bytes`. `offset` is the input offset of the first byte.
struct Input {
  int fd = -1;
  int64_t file_offset = -1;
  std::string_view bytes;
  uint64_t offset = 0;
};

struct Analyser;  // engine/analysis.h

// What Advance reached.
enum class Reached : uint8_t {
  kBoundary,  // the start of an attempt at or past the limit
  kEnd,       // the end of the input: everything is handed over
  kStopped,   // the sink refused a batch
  kError,     // a failure; see Analysis::error()
};

struct Step {
  Reached reached = Reached::kEnd;
  uint64_t offset = 0;  // kBoundary: input offset where the next attempt starts
  bool clean = false;   // kBoundary: what is written from here depends only
                        // on the input from `offset` (a clean cut)
};

// One analysis of one input: not shared between threads (make one per
// thread; they may share the Dictionary).
class Analysis {
 public:
  Analysis(std::shared_ptr<const Dictionary> dictionary, const Options& options,
           const Input& input, BatchSink sink, void* sink_context);
  ~Analysis();
  Analysis(const Analysis&) = delete;
  Analysis& operator=(const Analysis&) = delete;

  // Analyses until the next attempt starts at input offset `limit` or
  // later, the input ends, or something fails. Advance(0) stops at every
  // attempt boundary; Advance(UINT64_MAX) runs to the end.
  Step Advance(uint64_t limit);
  const Error& error() const;
  // What was found in the input read so far.
  InputReport report() const;

 private:
  std::shared_ptr<const Dictionary> dictionary_;
  std::unique_ptr<Analyser> analyser_;
};

// ---- Pieces: one input analysed in ranges, on threads or machines ----
//
// Between two attempts the analysis's state is small. At a clean cut (see
// Step::clean) everything written from there on depends only on the input
// from that offset, so two analyses standing at clean cuts at the same
// offset write the same bytes from there on. A long input can therefore be
// cut into ranges analysed apart, each from its first byte as if the input
// began there, and joined where the analysis of one range, going on past
// its end, meets a clean cut that the next range's analysis noted at the
// same offset. The analysis before the join stands at the true state, so
// the joined output is exactly the whole input's.

// A clean cut noted by an analysis: its input offset and the bytes it had
// written to each output before it.
struct CleanCut {
  uint64_t offset = 0;
  uint64_t output_bytes = 0;
  uint64_t unknown_bytes = 0;
};

// What to analyse of an input: from `begin`, as if the input began there,
// noting the clean cuts in [begin, window_end) and in [end, follow_end),
// up to the first attempt boundary at or past `follow_end` (or the end of
// the input).
struct RangeRequest {
  uint64_t begin = 0;
  uint64_t window_end = 0;
  uint64_t end = 0;
  uint64_t follow_end = 0;
};

struct RangeResult {
  std::string output;         // everything written, from `begin` on
  std::string unknown_words;  // likewise, with Options::unknown_words
  std::vector<CleanCut> head_cuts;  // in [begin, window_end), `begin` first
  std::vector<CleanCut> tail_cuts;  // in [end, follow_end)
  uint64_t stopped_at = 0;  // input offset where the analysis stopped
  bool input_ended = false;  // it stopped at the end of the input
  Error error;              // a failure; the outputs hold what came before
  // What was found in the input read, from `begin` to where the analysis
  // stopped (so past `end` too): a range that met no invalid UTF-8 tells
  // that its own bytes hold none.
  InputReport report;
};

// Analyses one range of `input`, whose bytes start at input offset
// `request.begin` (a descriptor with Input::file_offset, or bytes). Two
// consecutive results join where FindJoin says; the threads of
// AnalyseDescriptor join their runs the same way, with the cuts handed over
// as they are noted.
RangeResult AnalyseRange(const Dictionary& dictionary, const Options& options,
                         const Input& input, const RangeRequest& request);

// Where the analysis of one range, standing at the true state, hands over
// to the analysis of the next: the first clean cut, in input order, that
// the earlier one noted past its end (`earlier`, in its outputs) and the
// later one noted near its start (`later`, in its outputs). The joined
// output is the earlier's up to earlier.output_bytes, then the later's from
// later.output_bytes (the same for the unknown words).
struct RangeJoin {
  bool found = false;  // no common cut: the later range must be analysed
                       // again from a point known true
  CleanCut earlier;
  CleanCut later;
};

// The join of an earlier analysis's `tail_cuts` and a later one's
// `head_cuts`, both in increasing input order.
RangeJoin FindJoin(std::span<const CleanCut> tail_cuts,
                   std::span<const CleanCut> head_cuts);

// Where a range whose nominal start is input offset `at` starts: `at`
// itself, or with Options::utf8 the first character start at or after it
// (so that the range's analysis reads the characters the whole input's
// does). `input` is a descriptor read from Input::file_offset (input offset
// 0), or the input's bytes; `input_size` counts its bytes. A descriptor
// that cannot be read leaves `at` (any start gives the same bytes out, only
// later).
uint64_t RangeStart(const Input& input, uint64_t input_size, uint64_t at,
                    const Options& options);

// Analyses everything readable from descriptor `fd` and hands it to `sink`.
// A regular file with room for it is analysed in pieces on several threads
// (`threads`; 0: one per processor, at most four), with the same bytes out
// as one thread; anything else is read as it comes, so that output keeps
// pace with input. Returns kEnd, kStopped, or kError with `error` set.
// After kEnd, `report` (when not null) tells what was found in the input.
Step AnalyseDescriptor(const Dictionary& dictionary, const Options& options,
                       int fd, BatchSink sink, void* sink_context,
                       Error* error, int threads = 0,
                       InputReport* report = nullptr);

// Whether AnalyseDescriptor, given the same `fd` and `threads`, analyses in
// pieces on worker threads. Its sink then runs on the calling thread while
// the workers analyse, so work done in the sink already overlaps the
// analysis; read as a stream, the sink runs between the analysis's steps.
bool AnalysesInPieces(int fd, int threads = 0);

// The threads AnalyseDescriptor starts when given 0: one per processor, at
// most four.
int AnalysisThreads();

// What the analysis of all of descriptor `fd` (from file offset 0) with
// Options::utf8 reports of its invalid UTF-8 sequences, counted the same
// way, without analysing it: for input analysed in ranges, whose reports
// overlap. False when it could not be read.
bool InvalidUtf8InFile(int fd, InputReport* report);

// The program's warning about the invalid UTF-8 in `report` (which has
// some), as one line with its line end.
std::string InvalidUtf8Warning(const InputReport& report);

// Analyses all of `text` and appends the annotated bytes to `output` (and
// the unknown-word lines to `unknown_words` when not null; what was found
// in the input to `report` when not null).
Error AnnotateBytes(const Dictionary& dictionary, const Options& options,
                    std::string_view text, std::string* output,
                    std::string* unknown_words = nullptr,
                    InputReport* report = nullptr);

// Renders one reading part as the program writes it: characters with the
// stretch's capitals restored, tags as "&name;"; a complete analysis ends in
// "/". Appends to `text`, in Latin-1, as the dictionary holds it (an
// analysis with Options::utf8 writes these bytes as UTF-8).
void RenderReadingPart(const Dictionary& dictionary, const Batch& batch,
                       const ReadingPart& part, std::string* text);

}  // namespace etiquem

#endif  // ETIQUEM_ETIQUEM_H_
