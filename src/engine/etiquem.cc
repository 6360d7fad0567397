// The public interface over the engine's parts; see include/etiquem/etiquem.h.

#include "etiquem/etiquem.h"

#include <new>

#include "engine/analysis.h"
#include "engine/automaton.h"
#include "engine/messages.h"
#include "engine/pieces.h"
#include "engine/reading_text.h"

namespace etiquem {

Dictionary::Dictionary() : automaton_(std::make_unique<Automaton>()) {}
Dictionary::~Dictionary() = default;

std::shared_ptr<const Dictionary> Dictionary::Load(const std::string& path,
                                                   Error* error) {
  try {
    std::shared_ptr<Dictionary> dictionary(new Dictionary());
    int status = 0;
    if (!LoadAutomatonFile(*dictionary->automaton_, path.c_str(),
                           error->message, status)) {
      error->status = status;
      return nullptr;
    }
    return dictionary;
  } catch (const std::bad_alloc&) {
    *error = Error{messages::kStatusBadAutomaton, messages::kNoMemoryForStates};
    return nullptr;
  }
}

std::shared_ptr<const Dictionary> Dictionary::FromBytes(
    const std::string& name, std::string_view bytes, Error* error) {
  try {
    std::shared_ptr<Dictionary> dictionary(new Dictionary());
    if (!LoadAutomatonFromBytes(
            *dictionary->automaton_, name.c_str(),
            reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
            error->message)) {
      error->status = messages::kStatusBadAutomaton;
      return nullptr;
    }
    return dictionary;
  } catch (const std::bad_alloc&) {
    *error = Error{messages::kStatusBadAutomaton, messages::kNoMemoryForStates};
    return nullptr;
  }
}

const std::string* Dictionary::TagName(int32_t symbol) const {
  return NameOfSymbol(*automaton_, symbol);
}

Analysis::Analysis(std::shared_ptr<const Dictionary> dictionary,
                   const Options& options, const Input& input, BatchSink sink,
                   void* sink_context)
    : dictionary_(std::move(dictionary)),
      analyser_(std::make_unique<Analyser>()) {
  StartAnalysis(*analyser_, &dictionary_->automaton(), options, input, sink,
                sink_context);
}

Analysis::~Analysis() = default;

Step Analysis::Advance(uint64_t limit) {
  return AdvanceAnalysis(*analyser_, limit);
}

const Error& Analysis::error() const { return analyser_->error; }

InputReport Analysis::report() const {
  const InvalidUtf8Count& invalid = InvalidUtf8Met(*analyser_);
  return InputReport{invalid.count, invalid.first_offset};
}

namespace {

struct Collected {
  std::string* output;
  std::string* unknown_words;
};

bool Collect(void* context, const Batch& batch) {
  Collected& c = *static_cast<Collected*>(context);
  c.output->append(batch.output);
  if (c.unknown_words != nullptr) c.unknown_words->append(batch.unknown_words);
  return true;
}

}  // namespace

Error AnnotateBytes(const Dictionary& dictionary, const Options& options,
                    std::string_view text, std::string* output,
                    std::string* unknown_words, InputReport* report) {
  Collected collected{output, unknown_words};
  Input input;
  input.bytes = text;
  try {
    auto analyser = std::make_unique<Analyser>();
    StartAnalysis(*analyser, &dictionary.automaton(), options, input, Collect,
                  &collected);
    AdvanceAnalysis(*analyser, UINT64_MAX);
    if (report != nullptr) {
      const InvalidUtf8Count& invalid = InvalidUtf8Met(*analyser);
      *report = InputReport{invalid.count, invalid.first_offset};
    }
    return analyser->error;
  } catch (const std::bad_alloc&) {
    return Error{messages::kStatusFailure, messages::kOutOfMemory};
  }
}

RangeResult AnalyseRange(const Dictionary& dictionary, const Options& options,
                         const Input& input, const RangeRequest& request) {
  RangeResult result;
  Collected collected{&result.output, &result.unknown_words};
  Options range_options = options;
  range_options.events = false;
  try {
    auto analyser = std::make_unique<Analyser>();
    Input from = input;
    from.offset = request.begin;
    StartAnalysis(*analyser, &dictionary.automaton(), range_options, from,
                  Collect, &collected);
    // The start is a clean cut: nothing read, nothing waiting.
    result.head_cuts.push_back(CleanCut{request.begin, 0, 0});
    Step step = NoteCleanCuts(*analyser, request.window_end, result.head_cuts);
    if (step.reached == Reached::kBoundary && step.offset < request.end)
      step = AdvanceAnalysis(*analyser, request.end);
    if (step.reached == Reached::kBoundary) {
      // The boundary at or past the end may itself be a cut to note.
      if (step.offset < request.follow_end) {
        if (step.clean)
          result.tail_cuts.push_back(
              CleanCut{step.offset, TextWritten(analyser->output),
                       UnknownWritten(analyser->output)});
        step = NoteCleanCuts(*analyser, request.follow_end, result.tail_cuts);
      }
    }
    if (step.reached == Reached::kBoundary) {
      Deliver(analyser->output);
      result.stopped_at = step.offset;
    } else {
      result.input_ended = step.reached == Reached::kEnd;
      result.stopped_at = ScannerOffset(analyser->scanner);
      result.error = analyser->error;
    }
    const InvalidUtf8Count& invalid = InvalidUtf8Met(*analyser);
    result.report = InputReport{invalid.count, invalid.first_offset};
  } catch (const std::bad_alloc&) {
    result.error = Error{messages::kStatusFailure, messages::kOutOfMemory};
  }
  return result;
}

int AnalysisThreads() { return PieceThreads(); }

bool InvalidUtf8InFile(int fd, InputReport* report) {
  InvalidUtf8Count invalid;
  if (!CountInvalidUtf8InFile(fd, 0, invalid)) return false;
  *report = InputReport{invalid.count, invalid.first_offset};
  return true;
}

std::string InvalidUtf8Warning(const InputReport& report) {
  return messages::InvalidUtf8Warning(report.invalid_utf8,
                                      report.first_invalid_utf8);
}

bool AnalysesInPieces(int fd, int threads) {
  PieceParameters pieces;
  pieces.threads = threads > 0 ? threads : PieceThreads();
  int64_t start = 0;
  uint64_t size = 0;
  return PiecesWorthwhile(fd, pieces, start, size);
}

Step AnalyseDescriptor(const Dictionary& dictionary, const Options& options,
                       int fd, BatchSink sink, void* sink_context,
                       Error* error, int threads, InputReport* report) {
  InputReport ignored;
  if (report == nullptr) report = &ignored;
  try {
    PieceParameters pieces;
    pieces.threads = threads > 0 ? threads : PieceThreads();
    int64_t start = 0;
    uint64_t size = 0;
    if (PiecesWorthwhile(fd, pieces, start, size)) {
      bool started = false;
      const Step step =
          AnalyseInPieces(&dictionary.automaton(), options, fd, start, size,
                          pieces, sink, sink_context, error, &started, report);
      if (started) return step;
    }
    auto analyser = std::make_unique<Analyser>();
    Input input;
    input.fd = fd;
    StartAnalysis(*analyser, &dictionary.automaton(), options, input, sink,
                  sink_context);
    const Step step = AdvanceAnalysis(*analyser, UINT64_MAX);
    *error = analyser->error;
    const InvalidUtf8Count& invalid = InvalidUtf8Met(*analyser);
    *report = InputReport{invalid.count, invalid.first_offset};
    return step;
  } catch (const std::bad_alloc&) {
    *error = Error{messages::kStatusFailure, messages::kOutOfMemory};
    return Step{Reached::kError, 0, false};
  }
}

void RenderReadingPart(const Dictionary& dictionary, const Batch& batch,
                       const ReadingPart& part, std::string* text) {
  const int32_t* symbols = batch.symbols.data() + part.first_symbol;
  const int n = int(part.symbol_count);
  if (part.piece) {
    int capital_pending = 1;
    RenderPieceReading(dictionary.automaton(), symbols, n, part.first_upper,
                       part.latest_upper, capital_pending, *text);
  } else {
    RenderCompleteReading(dictionary.automaton(), symbols, n,
                          part.first_upper, part.latest_upper, *text);
  }
}

}  // namespace etiquem
