// The Python module etiquem._etiquem: the engine's dictionary, annotation and
// structured analysis for Python (the package etiquem wraps it).
//
// Shape, and why:
// - A `str` is analysed as UTF-8 (Options::utf8) and its offsets count its
//   characters; `bytes` (and any buffer) is Latin-1 and its offsets count
//   bytes. Either way `text[t.start:t.end] == t.surface`, because surfaces
//   are slices of the caller's own object (or of the bytes it fed).
// - The engine runs with the GIL released; batches are turned into Python
//   objects as they come, with the GIL taken back only for that. So threads
//   share one Dictionary and analyse at once.
// - Tokens and readings are struct sequences (named tuples made in C):
//   building millions of them is what analyse() costs, and they are the
//   cheapest named, immutable Python objects. What a stretch writes depends
//   only on its characters, so the readings (and written text) of a
//   surface are built once per call and shared by every token with that
//   surface; they are immutable, so sharing is safe.
// - Plain characters written as they came are merged into one token per
//   run, as --json does.
// - The streaming form feeds the caller's chunks through a pipe to an
//   analysis on a worker thread, which reads them as the program reads a
//   pipe: the result is exactly that of the whole text at once.
// - Ranges (AnalyseRange, FindJoin, RangeStart) are the engine's piece
//   mechanics, bare: bytes out, clean cuts as (offset, output_bytes,
//   unknown_bytes) tuples, and a failure as a value, for a caller that
//   analyses pieces of one input on other processes or machines
//   (etiquem.distributed) and joins them.

#include <fcntl.h>
#include <pybind11/pybind11.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "etiquem/etiquem.h"
#include "etiquem/structured.h"

namespace py = pybind11;

namespace etiquem::python {
namespace {

// ---- Module-wide objects, made once at import ----

PyTypeObject* token_type = nullptr;
PyTypeObject* reading_type = nullptr;
PyObject* error_type = nullptr;
PyObject* kind_names[4] = {};  // by PieceKind
PyObject* empty_tuple = nullptr;
PyObject* empty_str = nullptr;

PyStructSequence_Field token_fields[] = {
    {"kind", "'reading', 'unknown', 'plain' or 'superblank'"},
    {"start", "offset of the first character (str) or byte (bytes)"},
    {"end", "offset just past the last one"},
    {"surface", "the input's text of the token: text[start:end]"},
    {"text", "what the annotated output writes for it"},
    {"readings", "tuple of Reading (empty but for 'reading')"},
    {nullptr, nullptr}};
PyStructSequence_Desc token_desc = {
    "etiquem.Token",
    "A written piece of the output: a recognised stretch ('reading'), an "
    "unknown word ('unknown'), a run of characters written as they came "
    "('plain') or a superblank.",
    token_fields, 6};

PyStructSequence_Field reading_fields[] = {
    {"lemma", "the lemma, with the capitals the output gives it"},
    {"tags", "tuple of tag names, in order"},
    {"pieces", "several lemmas with tags: their Readings, else ()"},
    {"compound", "whether it is a compound reading (of pieces)"},
    {nullptr, nullptr}};
PyStructSequence_Desc reading_desc = {
    "etiquem.Reading",
    "A reading: a lemma with its tags; or, for a joined reading ('al': 'a' "
    "and 'el') or a compound one, its pieces, each a lemma with its tags, "
    "and then lemma is '' and tags is ().",
    reading_fields, 4};

// Owns one reference.
struct Ref {
  PyObject* p = nullptr;
  Ref() = default;
  explicit Ref(PyObject* o) : p(o) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p(o.p) { o.p = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    std::swap(p, o.p);
    return *this;
  }
  ~Ref() { Py_XDECREF(p); }
  PyObject* release() { return std::exchange(p, nullptr); }
};

// Raises etiquem.Error with the engine's message (Latin-1, one line) and
// status.
[[noreturn]] void RaiseError(const Error& error) {
  std::string_view message = error.message;
  if (!message.empty() && message.back() == '\n') message.remove_suffix(1);
  Ref text(PyUnicode_DecodeLatin1(message.data(), Py_ssize_t(message.size()),
                                  nullptr));
  if (text.p == nullptr) throw py::error_already_set();
  Ref exception(PyObject_CallOneArg(error_type, text.p));
  if (exception.p == nullptr) throw py::error_already_set();
  Ref status(PyLong_FromLong(error.status));
  if (status.p == nullptr ||
      PyObject_SetAttrString(exception.p, "status", status.p) != 0 ||
      PyObject_SetAttrString(exception.p, "message", text.p) != 0)
    throw py::error_already_set();
  PyErr_SetObject(error_type, exception.p);
  throw py::error_already_set();
}

// The text of a call, as bytes for the engine.
struct TextInput {
  bool is_str = false;
  bool ascii = false;        // a str of ASCII characters only
  std::string_view bytes;    // UTF-8 (str) or the buffer's bytes
  py::buffer_info buffer;    // keeps a buffer's view alive
};

// The bytes of a one-dimensional buffer of bytes (`what` names it in the
// error raised for anything else).
TextInput GetBytes(const py::handle& object, const char* what) {
  if (!PyObject_CheckBuffer(object.ptr()))
    throw py::type_error(std::string(what) + " must be bytes, not " +
                         Py_TYPE(object.ptr())->tp_name);
  TextInput in;
  in.buffer = py::reinterpret_borrow<py::buffer>(object).request();
  if (in.buffer.ndim != 1 || in.buffer.itemsize != 1)
    throw py::type_error(std::string(what) +
                         " must be a one-dimensional buffer of bytes");
  in.bytes = std::string_view(static_cast<const char*>(in.buffer.ptr),
                              size_t(in.buffer.size));
  return in;
}

// ---- The dictionary ----

struct PyDictionary {
  std::shared_ptr<const Dictionary> dictionary;
  std::string path;
  // Tag names as str, by symbol - kFirstTagSymbol; made on first use, with
  // the GIL held.
  std::vector<Ref> tag_names;

  // Loads the automaton file `file`; or, when `data` is not None, the
  // bytes of one, which `file` then names in messages.
  PyDictionary(const std::string& file, const py::object& data) : path(file) {
    Error error;
    if (data.is_none()) {
      py::gil_scoped_release release;
      dictionary = Dictionary::Load(file, &error);
    } else {
      TextInput in = GetBytes(data, "data");
      py::gil_scoped_release release;
      dictionary = Dictionary::FromBytes(file, in.bytes, &error);
    }
    if (!dictionary) RaiseError(error);
  }

  // A borrowed reference, or null with a Python error set.
  PyObject* TagName(int32_t symbol) {
    const size_t i = size_t(symbol - kFirstTagSymbol);
    if (i >= tag_names.size()) tag_names.resize(i + 1);
    Ref& name = tag_names[i];
    if (name.p == nullptr) {
      const std::string* s = dictionary->TagName(symbol);
      name.p = s == nullptr ? (Py_INCREF(empty_str), empty_str)
                            : PyUnicode_DecodeLatin1(
                                  s->data(), Py_ssize_t(s->size()), nullptr);
    }
    return name.p;
  }
};

TextInput GetInput(const py::handle& text) {
  TextInput in;
  if (PyUnicode_Check(text.ptr())) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();
    in.is_str = true;
    in.ascii = PyUnicode_IS_ASCII(text.ptr());
    in.bytes = std::string_view(data, size_t(size));
    return in;
  }
  if (!PyObject_CheckBuffer(text.ptr()))
    throw py::type_error("text must be str or bytes, not " +
                         std::string(Py_TYPE(text.ptr())->tp_name));
  return GetBytes(text, "text");
}

// ---- Batches into tokens ----

// Lets a map keyed by strings be looked up with a string_view.
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const {
    return std::hash<std::string_view>{}(s);
  }
};

// Turns the events of batches into Token objects, appended to `tokens`.
// Holds the input it slices surfaces from: all of it for one call, or what
// a stream still needs of it.
struct Converter {
  PyDictionary* dictionary = nullptr;
  bool is_str = false;
  bool ascii = false;
  PyObject* original = nullptr;  // the caller's str, or null (a stream)
  std::string_view input;        // input bytes from offset `input_base` on
  uint64_t input_base = 0;
  // Character offsets of a str's UTF-8 bytes: a cursor that moves forward,
  // and a mark at the latest token's start to go back to (superblanks inside
  // a stretch come after it).
  uint64_t cursor_byte = 0, cursor_char = 0;
  uint64_t mark_byte = 0, mark_char = 0;
  // A run of plain characters not yet made a token.
  bool pending = false;
  uint64_t run_start = 0, run_end = 0;
  Ref tokens;  // a list
  ReadingsView view;
  // Per surface (its bytes): its reading's written text and readings.
  struct Known {
    Ref text;
    Ref readings;
  };
  std::unordered_map<std::string, Known, StringHash, std::equal_to<>> known;
  size_t known_bytes = 0;
  static constexpr size_t kMaxKnownBytes = size_t(8) << 20;
  bool failed = false;  // a Python error is set

  uint64_t CharOffset(uint64_t b) {
    if (!is_str || ascii) return b;
    if (b < cursor_byte) {
      cursor_byte = mark_byte;
      cursor_char = mark_char;
    }
    const char* p = input.data() + (cursor_byte - input_base);
    const char* end = input.data() + (b - input_base);
    uint64_t chars = cursor_char;
    for (; p < end; ++p) chars += (uint8_t(*p) & 0xC0) != 0x80;
    cursor_byte = b;
    cursor_char = chars;
    return chars;
  }

  // The input's text of [begin, end) (byte offsets): a new reference.
  PyObject* Slice(uint64_t begin, uint64_t end, uint64_t char_begin,
                  uint64_t char_end) {
    if (original != nullptr)
      return PyUnicode_Substring(original, Py_ssize_t(char_begin),
                                 Py_ssize_t(char_end));
    const char* p = input.data() + (begin - input_base);
    return TextObject(std::string_view(p, size_t(end - begin)));
  }

  // Output or input bytes as the caller's type: a new reference.
  PyObject* TextObject(std::string_view bytes) const {
    if (is_str)
      return PyUnicode_DecodeUTF8(bytes.data(), Py_ssize_t(bytes.size()),
                                  "surrogateescape");
    return PyBytes_FromStringAndSize(bytes.data(), Py_ssize_t(bytes.size()));
  }

  // Appends a token; steals `surface`, `text` and `readings`.
  bool Append(PieceKind kind, uint64_t start, uint64_t end, PyObject* surface,
              PyObject* text, PyObject* readings) {
    Ref s(surface), t(text), r(readings);
    if (s.p == nullptr || t.p == nullptr || r.p == nullptr) return false;
    Ref token(PyStructSequence_New(token_type));
    if (token.p == nullptr) return false;
    PyObject* kind_name = kind_names[int(kind)];
    Py_INCREF(kind_name);
    PyStructSequence_SetItem(token.p, 0, kind_name);
    PyObject* a = PyLong_FromUnsignedLongLong(start);
    PyObject* b = PyLong_FromUnsignedLongLong(end);
    if (a == nullptr || b == nullptr) {
      Py_XDECREF(a);
      Py_XDECREF(b);
      return false;
    }
    PyStructSequence_SetItem(token.p, 1, a);
    PyStructSequence_SetItem(token.p, 2, b);
    PyStructSequence_SetItem(token.p, 3, s.release());
    PyStructSequence_SetItem(token.p, 4, t.release());
    PyStructSequence_SetItem(token.p, 5, r.release());
    return PyList_Append(tokens.p, token.p) == 0;
  }

  bool FlushRun() {
    if (!pending) return true;
    pending = false;
    const uint64_t a = CharOffset(run_start);
    mark_byte = run_start;
    mark_char = a;
    const uint64_t b = CharOffset(run_end);
    PyObject* surface = Slice(run_start, run_end, a, b);
    Py_XINCREF(surface);  // the text is the surface
    return Append(PieceKind::kCharacter, a, b, surface, surface,
                  (Py_INCREF(empty_tuple), empty_tuple));
  }

  // One Reading of `view`'s group `g`: a new reference.
  PyObject* GroupReading(const LemmaTags& g, PyObject* pieces) {
    Ref reading(PyStructSequence_New(reading_type));
    if (reading.p == nullptr) return nullptr;
    PyObject* lemma = PyUnicode_DecodeLatin1(
        view.lemmas.data() + g.lemma_begin,
        Py_ssize_t(g.lemma_end - g.lemma_begin), nullptr);
    Ref tags(PyTuple_New(Py_ssize_t(g.tag_count)));
    if (lemma == nullptr || tags.p == nullptr) {
      Py_XDECREF(lemma);
      return nullptr;
    }
    for (uint32_t t = 0; t < g.tag_count; ++t) {
      PyObject* name = dictionary->TagName(view.tags[g.first_tag + t]);
      if (name == nullptr) {
        Py_DECREF(lemma);
        return nullptr;
      }
      Py_INCREF(name);
      PyTuple_SET_ITEM(tags.p, t, name);
    }
    PyStructSequence_SetItem(reading.p, 0, lemma);
    PyStructSequence_SetItem(reading.p, 1, tags.release());
    Py_INCREF(pieces);
    PyStructSequence_SetItem(reading.p, 2, pieces);
    Py_INCREF(Py_False);
    PyStructSequence_SetItem(reading.p, 3, Py_False);
    return reading.release();
  }

  // The readings of `view` as a tuple: a new reference.
  PyObject* Readings() {
    Ref all(PyTuple_New(Py_ssize_t(view.readings.size())));
    if (all.p == nullptr) return nullptr;
    for (size_t r = 0; r < view.readings.size(); ++r) {
      const StructuredReading& reading = view.readings[r];
      PyObject* item;
      if (!reading.compound && reading.group_count == 1) {
        item = GroupReading(view.groups[reading.first_group], empty_tuple);
      } else {
        Ref pieces(PyTuple_New(Py_ssize_t(reading.group_count)));
        if (pieces.p == nullptr) return nullptr;
        for (uint32_t g = 0; g < reading.group_count; ++g) {
          PyObject* piece =
              GroupReading(view.groups[reading.first_group + g], empty_tuple);
          if (piece == nullptr) return nullptr;
          PyTuple_SET_ITEM(pieces.p, g, piece);
        }
        Ref compound(PyStructSequence_New(reading_type));
        if (compound.p == nullptr) return nullptr;
        Py_INCREF(empty_str);
        PyStructSequence_SetItem(compound.p, 0, empty_str);
        Py_INCREF(empty_tuple);
        PyStructSequence_SetItem(compound.p, 1, empty_tuple);
        PyStructSequence_SetItem(compound.p, 2, pieces.release());
        PyObject* flag = reading.compound ? Py_True : Py_False;
        Py_INCREF(flag);
        PyStructSequence_SetItem(compound.p, 3, flag);
        item = compound.release();
      }
      if (item == nullptr) return nullptr;
      PyTuple_SET_ITEM(all.p, Py_ssize_t(r), item);
    }
    return all.release();
  }

  bool Stretch(const Batch& batch, const Event& e) {
    const uint64_t a = CharOffset(e.input_begin);
    if (e.input_begin >= mark_byte) {
      mark_byte = e.input_begin;
      mark_char = a;
    }
    const uint64_t b = CharOffset(e.input_end);
    const std::string_view written =
        batch.output.substr(e.output_begin, e.output_end - e.output_begin);
    PyObject* surface = Slice(e.input_begin, e.input_end, a, b);
    if (e.kind != PieceKind::kReading)
      return Append(e.kind, a, b, surface, TextObject(written),
                    (Py_INCREF(empty_tuple), empty_tuple));
    const std::string_view key =
        input.substr(size_t(e.input_begin - input_base),
                     size_t(e.input_end - e.input_begin));
    auto found = known.find(key);
    if (found == known.end()) {
      view.Clear();
      AppendReadings(batch, e, &view);
      Known k{Ref(TextObject(written)), Ref(Readings())};
      if (k.text.p == nullptr || k.readings.p == nullptr) {
        Py_XDECREF(surface);
        return false;
      }
      if (known_bytes > kMaxKnownBytes) {
        known.clear();
        known_bytes = 0;
      }
      known_bytes += key.size() + written.size() + 64;
      found = known.emplace(std::string(key), std::move(k)).first;
    }
    Py_INCREF(found->second.text.p);
    Py_INCREF(found->second.readings.p);
    return Append(e.kind, a, b, surface, found->second.text.p,
                  found->second.readings.p);
  }

  // Turns the events of `batch` into tokens; false with a Python error set.
  bool Convert(const Batch& batch) {
    for (const Event& e : batch.events) {
      if (e.kind == PieceKind::kCharacter) {
        if (pending && e.input_begin == run_end) {
          run_end = e.input_end;
          continue;
        }
        if (!FlushRun()) return false;
        pending = true;
        run_start = e.input_begin;
        run_end = e.input_end;
        continue;
      }
      if (!FlushRun() || !Stretch(batch, e)) return false;
    }
    return true;
  }

  // The input still needed: from the earlier of the latest token's start and
  // a pending run's.
  uint64_t NeededFrom() const {
    return pending && run_start < mark_byte ? run_start : mark_byte;
  }
};

Options MakeOptions(bool is_str, bool surface, bool mark_unknown,
                    bool apostrophe_blank, bool events) {
  Options options;
  options.surface_forms = surface;
  options.mark_unknown = mark_unknown;
  options.apostrophe_blank = apostrophe_blank;
  options.events = events;
  options.utf8 = is_str;
  return options;
}

bool ConvertInSink(void* context, const Batch& batch) {
  Converter& c = *static_cast<Converter*>(context);
  py::gil_scoped_acquire acquire;
  if (!c.Convert(batch)) {
    c.failed = true;
    return false;
  }
  return true;
}

py::object Annotate(PyDictionary& d, const py::object& text, bool surface,
                    bool mark_unknown, bool apostrophe_blank) {
  TextInput in = GetInput(text);
  const Options options =
      MakeOptions(in.is_str, surface, mark_unknown, apostrophe_blank, false);
  std::string output;
  Error error;
  {
    py::gil_scoped_release release;
    error = AnnotateBytes(*d.dictionary, options, in.bytes, &output);
  }
  if (error.failed()) RaiseError(error);
  if (in.is_str)
    return py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
        output.data(), Py_ssize_t(output.size()), "surrogateescape"));
  return py::bytes(output);
}

// Keeps the cyclic garbage collector off while it lives: tokens are
// tuples of strings, numbers and tuples, which make no cycles, and a
// collection every few hundred of the millions made would cost more than
// making them.
struct CollectorPaused {
  const int was_enabled = PyGC_Disable();
  ~CollectorPaused() {
    if (was_enabled) PyGC_Enable();
  }
};

py::list Analyse(PyDictionary& d, const py::object& text) {
  CollectorPaused paused;
  TextInput in = GetInput(text);
  Converter c;
  c.dictionary = &d;
  c.is_str = in.is_str;
  c.ascii = in.ascii;
  c.original = in.is_str ? text.ptr() : nullptr;
  c.input = in.bytes;
  c.tokens = Ref(PyList_New(0));
  if (c.tokens.p == nullptr) throw py::error_already_set();
  Input input;
  input.bytes = in.bytes;
  Step step;
  Error error;
  {
    py::gil_scoped_release release;
    Analysis analysis(d.dictionary, MakeOptions(in.is_str, false, false, false, true),
                      input, ConvertInSink, &c);
    step = analysis.Advance(UINT64_MAX);
    error = analysis.error();
  }
  if (c.failed) throw py::error_already_set();
  if (step.reached == Reached::kError) RaiseError(error);
  if (!c.FlushRun()) throw py::error_already_set();
  return py::reinterpret_steal<py::list>(c.tokens.release());
}

// ---- The streaming form ----

// A batch copied off the engine's buffers, for the thread that converts it.
struct CopiedBatch {
  std::string output;
  std::vector<Event> events;
  std::vector<ReadingPart> parts;
  std::vector<int32_t> symbols;

  Batch View() const {
    Batch b;
    b.output = output;
    b.events = events;
    b.parts = parts;
    b.symbols = symbols;
    return b;
  }
};

// One streamed analysis: the caller feeds chunks into a pipe that an
// analysis on a worker thread reads; take() turns what it has written so
// far into tokens.
struct PyStream {
  py::object owner;  // the Dictionary, kept alive
  PyDictionary* dictionary;
  bool is_str;
  int write_fd = -1;
  std::thread worker;
  std::mutex mutex;
  std::deque<CopiedBatch> queue;  // guarded by `mutex`
  bool finished = false;          // guarded by `mutex`: the worker is done
  bool stop = false;              // guarded by `mutex`: abort() was called
  Error error;                    // the worker's, read once it is done
  std::string buffer;             // fed bytes still needed, from `base` on
  Converter converter;

  PyStream(py::object dictionary_object, bool str_chunks)
      : owner(std::move(dictionary_object)),
        dictionary(owner.cast<PyDictionary*>()),
        is_str(str_chunks) {
    converter.dictionary = dictionary;
    converter.is_str = is_str;
    converter.tokens = Ref(PyList_New(0));
    if (converter.tokens.p == nullptr) throw py::error_already_set();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      PyErr_SetFromErrno(PyExc_OSError);
      throw py::error_already_set();
    }
    write_fd = fds[1];
    const int read_fd = fds[0];
    std::shared_ptr<const Dictionary> d = dictionary->dictionary;
    const Options options = MakeOptions(is_str, false, false, false, true);
    worker = std::thread([this, d, options, read_fd] {
      Input input;
      input.fd = read_fd;
      Analysis analysis(d, options, input, CopyBatch, this);
      const Step step = analysis.Advance(UINT64_MAX);
      close(read_fd);
      std::lock_guard<std::mutex> lock(mutex);
      if (step.reached == Reached::kError) error = analysis.error();
      finished = true;
    });
  }

  ~PyStream() { Abort(); }

  static bool CopyBatch(void* context, const Batch& batch) {
    PyStream& s = *static_cast<PyStream*>(context);
    CopiedBatch copy;
    copy.output.assign(batch.output);
    copy.events.assign(batch.events.begin(), batch.events.end());
    copy.parts.assign(batch.parts.begin(), batch.parts.end());
    copy.symbols.assign(batch.symbols.begin(), batch.symbols.end());
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.stop) return false;
    s.queue.push_back(std::move(copy));
    return true;
  }

  void Feed(const py::object& chunk) {
    if (write_fd < 0) throw py::value_error("the stream is closed");
    if (bool(PyUnicode_Check(chunk.ptr())) != is_str)
      throw py::type_error(is_str ? "chunks must all be str"
                                  : "chunks must all be bytes");
    TextInput in = GetInput(chunk);
    buffer.append(in.bytes);
    bool ok;
    int error_number = 0;
    {
      py::gil_scoped_release release;
      ok = WriteAllBytes(write_fd, in.bytes, error_number);
    }
    if (!ok) {
      errno = error_number;
      PyErr_SetFromErrno(PyExc_OSError);
      throw py::error_already_set();
    }
  }

  static bool WriteAllBytes(int fd, std::string_view bytes, int& error_number) {
    while (!bytes.empty()) {
      const ssize_t n = write(fd, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        error_number = errno;
        return false;
      }
      bytes.remove_prefix(size_t(n));
    }
    return true;
  }

  // Ends the input and waits for the analysis to finish.
  void Close() {
    if (write_fd >= 0) {
      close(write_fd);
      write_fd = -1;
    }
    if (worker.joinable()) {
      py::gil_scoped_release release;
      worker.join();
    }
  }

  // Stops the analysis and waits for it.
  void Abort() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    if (write_fd >= 0) {
      close(write_fd);
      write_fd = -1;
    }
    if (worker.joinable()) worker.join();
  }

  // The tokens made since the last call; after Close, all the rest, or the
  // analysis's error.
  py::list Take() {
    CollectorPaused paused;
    std::deque<CopiedBatch> batches;
    bool done;
    {
      std::lock_guard<std::mutex> lock(mutex);
      batches.swap(queue);
      done = finished && write_fd < 0;
    }
    Converter& c = converter;
    c.input = buffer;
    c.input_base = base;
    for (const CopiedBatch& batch : batches)
      if (!c.Convert(batch.View())) throw py::error_already_set();
    if (done) {
      if (error.failed()) RaiseError(error);
      if (!c.FlushRun()) throw py::error_already_set();
    }
    // Drop the input no token needs any more.
    const uint64_t needed = c.NeededFrom();
    if (needed > base) {
      buffer.erase(0, size_t(needed - base));
      base = needed;
    }
    Ref fresh(PyList_New(0));
    if (fresh.p == nullptr) throw py::error_already_set();
    std::swap(fresh.p, c.tokens.p);
    return py::reinterpret_steal<py::list>(fresh.release());
  }

  uint64_t base = 0;  // input offset of buffer[0]
};

// ---- Ranges: one input analysed in pieces, joined by the caller ----

// A clean cut as the tuple (offset, output_bytes, unknown_bytes).
py::tuple CutTuple(const CleanCut& cut) {
  return py::make_tuple(cut.offset, cut.output_bytes, cut.unknown_bytes);
}

py::list CutList(const std::vector<CleanCut>& cuts) {
  py::list list(cuts.size());
  for (size_t i = 0; i < cuts.size(); ++i)
    PyList_SET_ITEM(list.ptr(), Py_ssize_t(i), CutTuple(cuts[i]).release().ptr());
  return list;
}

std::vector<CleanCut> CutVector(const py::iterable& cuts) {
  std::vector<CleanCut> vector;
  for (const py::handle& item : cuts) {
    const py::tuple cut = py::reinterpret_borrow<py::object>(item).cast<py::tuple>();
    if (cut.size() != 3)
      throw py::value_error("a clean cut is (offset, output_bytes, unknown_bytes)");
    vector.push_back(CleanCut{cut[0].cast<uint64_t>(), cut[1].cast<uint64_t>(),
                              cut[2].cast<uint64_t>()});
  }
  return vector;
}

// Closes a descriptor when it goes.
struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

// Opens `source` for reading when it is a path (str or os.PathLike), else
// takes it as bytes; raises OSError for a file that cannot be opened.
void OpenSource(const py::object& source, OpenFile& file, TextInput& bytes) {
  if (PyUnicode_Check(source.ptr()) || py::hasattr(source, "__fspath__")) {
    const std::string path = py::module_::import("os").attr("fsdecode")(source)
                                 .cast<std::string>();
    file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) {
      PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
      throw py::error_already_set();
    }
    return;
  }
  bytes = GetBytes(source, "source");
}

Options RangeOptions(bool surface, bool mark_unknown, bool apostrophe_blank,
                     bool unknown_words, bool utf8) {
  Options options = MakeOptions(utf8, surface, mark_unknown, apostrophe_blank,
                                false);
  options.unknown_words = unknown_words;
  return options;
}

// AnalyseRange on a file (read from `begin` on) or on bytes (the input's
// bytes from `begin` on). Returns (output, unknown_words, head_cuts,
// tail_cuts, stopped_at, input_ended, error), error being None or
// (status, message): a failure is a value here, since a range that does not
// start at the true state may fail where the whole input does not.
py::tuple AnalyseRangeOf(PyDictionary& d, const py::object& source,
                         uint64_t begin, uint64_t window_end, uint64_t end,
                         uint64_t follow_end, bool surface, bool mark_unknown,
                         bool apostrophe_blank, bool unknown_words, bool utf8) {
  OpenFile file;
  TextInput bytes;
  OpenSource(source, file, bytes);
  Input input;
  input.fd = file.fd;
  input.file_offset = file.fd >= 0 ? int64_t(begin) : -1;
  input.bytes = bytes.bytes;
  RangeRequest request{begin, window_end, end, follow_end};
  const Options options = RangeOptions(surface, mark_unknown, apostrophe_blank,
                                       unknown_words, utf8);
  RangeResult result;
  {
    py::gil_scoped_release release;
    result = AnalyseRange(*d.dictionary, options, input, request);
  }
  py::object error = py::none();
  if (result.error.failed()) {
    std::string_view message = result.error.message;
    if (!message.empty() && message.back() == '\n') message.remove_suffix(1);
    error = py::make_tuple(
        result.error.status,
        py::reinterpret_steal<py::object>(PyUnicode_DecodeLatin1(
            message.data(), Py_ssize_t(message.size()), nullptr)));
  }
  py::bytes output(result.output);
  std::string().swap(result.output);
  return py::make_tuple(output, py::bytes(result.unknown_words),
                        CutList(result.head_cuts), CutList(result.tail_cuts),
                        result.stopped_at, result.input_ended, error,
                        result.report.invalid_utf8);
}

// The invalid UTF-8 of a whole file, as (count, offset of the first), the
// way an analysis with utf8 counts it; OSError when it cannot be read.
py::tuple InvalidUtf8InFileOf(const py::object& path) {
  OpenFile file;
  TextInput unused;
  OpenSource(path, file, unused);
  InputReport report;
  bool read = false;
  {
    py::gil_scoped_release release;
    read = InvalidUtf8InFile(file.fd, &report);
  }
  if (!read) {
    PyErr_SetFromErrno(PyExc_OSError);
    throw py::error_already_set();
  }
  return py::make_tuple(report.invalid_utf8, report.first_invalid_utf8);
}

// The program's warning line for `count` invalid UTF-8 sequences, the
// first at `first`, without its line end.
std::string InvalidUtf8WarningOf(uint64_t count, uint64_t first) {
  std::string line = InvalidUtf8Warning(InputReport{count, first});
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

// FindJoin on lists of cut tuples: None, or (earlier, later).
py::object FindJoinOf(const py::iterable& tail_cuts,
                      const py::iterable& head_cuts) {
  const std::vector<CleanCut> tail = CutVector(tail_cuts);
  const std::vector<CleanCut> head = CutVector(head_cuts);
  const RangeJoin join = FindJoin(tail, head);
  if (!join.found) return py::none();
  return py::make_tuple(CutTuple(join.earlier), CutTuple(join.later));
}

// RangeStart on a file or the input's bytes.
uint64_t RangeStartOf(const py::object& source, uint64_t size, uint64_t at,
                      bool utf8) {
  OpenFile file;
  TextInput bytes;
  OpenSource(source, file, bytes);
  Input input;
  input.fd = file.fd;
  input.file_offset = 0;
  input.bytes = bytes.bytes;
  Options options;
  options.utf8 = utf8;
  return RangeStart(input, size, at, options);
}

}  // namespace
}  // namespace etiquem::python

PYBIND11_MODULE(_etiquem, m) {
  using namespace etiquem::python;
  m.doc() = "The etiquem engine (see the package etiquem).";

  token_type = PyStructSequence_NewType(&token_desc);
  reading_type = PyStructSequence_NewType(&reading_desc);
  if (token_type == nullptr || reading_type == nullptr)
    throw py::error_already_set();
  m.attr("Token") = py::reinterpret_borrow<py::object>(
      reinterpret_cast<PyObject*>(token_type));
  m.attr("Reading") = py::reinterpret_borrow<py::object>(
      reinterpret_cast<PyObject*>(reading_type));
  error_type = PyErr_NewExceptionWithDoc(
      "etiquem.Error",
      "A failure of the engine: `message` is its one-line message (as the "
      "etiquem program writes it) and `status` the program's exit status.",
      nullptr, nullptr);
  if (error_type == nullptr) throw py::error_already_set();
  m.attr("Error") = py::reinterpret_borrow<py::object>(error_type);
  const char* names[4] = {"reading", "unknown", "plain", "superblank"};
  for (int i = 0; i < 4; ++i) {
    kind_names[i] = PyUnicode_InternFromString(names[i]);
    if (kind_names[i] == nullptr) throw py::error_already_set();
  }
  empty_tuple = PyTuple_New(0);
  empty_str = PyUnicode_FromString("");

  py::class_<PyDictionary>(m, "_Dictionary")
      .def(py::init<const std::string&, const py::object&>(), py::arg("path"),
           py::arg("data") = py::none())
      .def_readonly("path", &PyDictionary::path,
                    "The automaton file it was loaded from.")
      .def("annotate", &Annotate, py::arg("text"), py::kw_only(),
           py::arg("surface") = false, py::arg("mark_unknown") = false,
           py::arg("apostrophe_blank") = false)
      .def("analyse", &Analyse, py::arg("text"))
      .def("_analyse_range", &AnalyseRangeOf, py::arg("source"),
           py::arg("begin"), py::arg("window_end"), py::arg("end"),
           py::arg("follow_end"), py::kw_only(), py::arg("surface") = false,
           py::arg("mark_unknown") = false, py::arg("apostrophe_blank") = false,
           py::arg("unknown_words") = false, py::arg("utf8") = false);

  m.def("_find_join", &FindJoinOf, py::arg("tail_cuts"), py::arg("head_cuts"));
  m.def("_range_start", &RangeStartOf, py::arg("source"), py::arg("size"),
        py::arg("at"), py::arg("utf8"));
  m.def("_invalid_utf8_in_file", &InvalidUtf8InFileOf, py::arg("path"));
  m.def("_invalid_utf8_warning", &InvalidUtf8WarningOf, py::arg("count"),
        py::arg("first"));

  py::class_<PyStream>(m, "_Stream")
      .def(py::init<py::object, bool>(), py::arg("dictionary"),
           py::arg("str_chunks"))
      .def("feed", &PyStream::Feed)
      .def("close", &PyStream::Close)
      .def("abort", &PyStream::Abort)
      .def("take", &PyStream::Take);
}
