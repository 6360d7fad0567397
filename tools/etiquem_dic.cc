// etiquem-dic: makes and inspects the automaton files that etiquem reads.
//
//   etiquem-dic compile SOURCE -o FILE [--dic | --att] [--latin1 | --utf8] [-v]
//   etiquem-dic dump FILE
//   etiquem-dic info FILE
//   etiquem-dic hunspell AFF DIC TAGMAP [-l LEXICON]... -o FILE [-v]
//   etiquem-dic --version      # "etiquem VERSION"
//
// This file only parses the command line, reads and writes files and reports
// errors; the compilers live in dictionary/. A compiled file is written to a
// temporary file beside FILE and renamed over it, so a failed run leaves
// nothing behind and never a half-written FILE. Every write is checked:
// output that cannot be written whole (a full disk, a closed descriptor)
// ends the run with status 1 and, where standard error still takes it, one
// line saying what was lost.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dictionary/att.h"
#include "dictionary/automaton_writer.h"
#include "dictionary/hunspell_expander.h"
#include "dictionary/lexicon.h"
#include "engine/automaton.h"
#include "version.h"

namespace {

using etiquem::dictionary::Encoding;

constexpr const char* kUsageText =
    "Usage: etiquem-dic compile SOURCE -o FILE [--dic | --att] "
    "[--latin1 | --utf8] [-v]\n"
    "       etiquem-dic dump FILE\n"
    "       etiquem-dic info FILE\n"
    "SOURCE is a full-form lexicon (surface<TAB>lexical[<TAB>kind]) or AT&T\n"
    "text (by extension .att, or --att); see tools/README.md.\n";

// Options of `compile`.
struct Command {
  std::string source_path;  // SOURCE
  std::string output_path;  // FILE
  bool att = false;    // AT&T text rather than a lexicon
  bool forced = false;  // kind of source given by an option
  Encoding encoding = Encoding::kDetect;
  bool verbose = false;  // -v: counts on standard error
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

// Writes `text` whole to `stream` and flushes it; false when any of it could
// not be written (a full disk, a closed descriptor).
bool WriteAndFlush(std::FILE* stream, const std::string& text) {
  const bool written =
      std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written && !std::ferror(stream);
}

bool ReadFile(const std::string& name, std::string& bytes, std::string& error) {
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) {
    error = "Error: cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool read_ok = !std::ferror(f);
  std::fclose(f);
  if (!read_ok) error = "Error: cannot read " + name;
  return read_ok;
}

// Writes `bytes` to `name` through a temporary file in the same directory.
bool WriteFile(const std::string& name, const std::string& bytes,
               std::string& error) {
  std::string temporary_path = name + ".tmp.XXXXXX";
  int fd = mkstemp(temporary_path.data());
  if (fd < 0) {
    error = "Error: cannot create a file beside " + name + ": " +
            std::strerror(errno);
    return false;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += size_t(w);
  }
  const int write_errno = errno;
  const bool closed = close(fd) == 0;
  if (done < bytes.size() || !closed) {
    error = "Error: cannot write " + name + ": " +
            std::strerror(done < bytes.size() ? write_errno : errno);
    unlink(temporary_path.c_str());
    return false;
  }
  if (std::rename(temporary_path.c_str(), name.c_str()) != 0) {
    error = "Error: cannot write " + name + ": " + std::strerror(errno);
    unlink(temporary_path.c_str());
    return false;
  }
  return true;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool ParseCommand(int argc, char** argv, Command& o, std::string& error) {
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o") {
      if (++i == argc) {
        error = "Error: -o needs a file name";
        return false;
      }
      o.output_path = argv[i];
    } else if (a == "--att" || a == "--dic") {
      o.att = a == "--att";
      o.forced = true;
    } else if (a == "--latin1") {
      o.encoding = Encoding::kLatin1;
    } else if (a == "--utf8") {
      o.encoding = Encoding::kUtf8;
    } else if (a == "-v") {
      o.verbose = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "Error: unknown option " + a;
      return false;
    } else if (o.source_path.empty()) {
      o.source_path = a;
    } else {
      error = "Error: more than one source (" + o.source_path + ", " + a + ")";
      return false;
    }
  }
  if (o.source_path.empty() || o.output_path.empty()) {
    error = "Error: compile needs a SOURCE and -o FILE";
    return false;
  }
  if (!o.forced) o.att = EndsWith(o.source_path, ".att");
  return true;
}

int Compile(int argc, char** argv) {
  Command o;
  std::string error, bytes;
  if (!ParseCommand(argc, argv, o, error)) {
    std::fprintf(stderr, "%s\n%s", error.c_str(), kUsageText);
    return 2;
  }
  if (!ReadFile(o.source_path, bytes, error)) return Fail(error);
  etiquem::dictionary::Transducer a;
  etiquem::dictionary::LexiconStatistics stats;
  std::vector<std::string> warnings;
  const bool read_ok =
      o.att ? etiquem::dictionary::CompileAtt(o.source_path, bytes, a, error,
                                              warnings)
            : etiquem::dictionary::CompileLexicon(o.source_path, bytes,
                                                  o.encoding, a, error, &stats);
  if (!read_ok) return Fail(error);
  // Warnings and counts go to standard error. When they cannot be written
  // the file is still made, and the status says that something failed.
  std::string notes;
  for (const std::string& warning : warnings)
    notes += "Warning: " + o.source_path + ": " + warning + "\n";
  bool notes_written = WriteAndFlush(stderr, notes);
  const std::string path = etiquem::dictionary::Serialise(a);
  if (!WriteFile(o.output_path, path, error)) return Fail(error);
  if (o.verbose) {
    char line[512];
    if (!o.att) {
      std::snprintf(line, sizeof line,
                    "%zu entries (%zu repeats dropped), %zu forms, %s; trie "
                    "%zu states; %zu forms padded (%zu moves), %zu order "
                    "branches\n",
                    stats.entries, stats.repeats, stats.forms,
                    stats.encoding == Encoding::kUtf8 ? "UTF-8" : "Latin-1",
                    stats.trie_nodes, stats.padded_forms, stats.padding_moves,
                    stats.order_branches);
      notes_written = WriteAndFlush(stderr, line) && notes_written;
    }
    std::snprintf(line, sizeof line, "%zu states, %zu defines, %zu bytes\n",
                  a.states.size(), a.symbol_names.size(), path.size());
    notes_written = WriteAndFlush(stderr, line) && notes_written;
  }
  return notes_written ? 0 : 1;
}

constexpr const char* kHunspellUsage =
    "Usage: etiquem-dic hunspell AFF DIC TAGMAP [-l LEXICON]... -o FILE [-v]\n";

// `hunspell`: a full-form lexicon from a hunspell dictionary, a tag map and
// hand-written lexicons (see tools/README.md).
int Hunspell(int argc, char** argv) {
  std::vector<std::string> sources, lexicons;
  std::string target, error;
  bool verbose = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "-o" || a == "-l") && i + 1 < argc) {
      (a == "-o" ? target : lexicons.emplace_back()) = argv[++i];
    } else if (a == "-v") {
      verbose = true;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "Error: unknown option %s\n%s", a.c_str(),
                   kHunspellUsage);
      return 2;
    } else {
      sources.push_back(a);
    }
  }
  if (sources.size() != 3 || target.empty()) {
    std::fprintf(stderr,
                 "Error: hunspell needs AFF, DIC, TAGMAP and -o FILE\n%s",
                 kHunspellUsage);
    return 2;
  }
  std::vector<etiquem::dictionary::NamedText> in(3), extra(lexicons.size());
  for (size_t i = 0; i < 3; ++i) {
    in[i].name = sources[i];
    if (!ReadFile(sources[i], in[i].bytes, error)) return Fail(error);
  }
  for (size_t i = 0; i < lexicons.size(); ++i) {
    extra[i].name = lexicons[i];
    if (!ReadFile(lexicons[i], extra[i].bytes, error)) return Fail(error);
  }
  std::string lexicon;
  etiquem::dictionary::ExpansionStats st;
  if (!etiquem::dictionary::ExpandHunspell(in[0], in[1], in[2], extra, lexicon,
                                           error, &st))
    return Fail(error);
  if (!WriteFile(target, lexicon, error)) return Fail(error);
  if (!verbose) return 0;
  // The counts go to standard error; when they cannot be written the file
  // is still made, and the status says that something failed.
  char line[512];
  std::snprintf(line, sizeof line,
                "%zu dictionary words (%zu skipped), %zu accepted words "
                "without a reading; %zu verbs and %zu other words inflected "
                "by inference; %zu hand-written entries; %zu generated "
                "entries written, %zu left to hand-written forms\n",
                st.dictionary_words, st.skipped_words, st.unmapped_words,
                st.paradigm_verbs, st.inferred_words, st.handwritten,
                st.generated, st.overridden);
  return WriteAndFlush(stderr, line) ? 0 : 1;
}

// Loads FILE as etiquem does.
bool LoadFile(const char* name, etiquem::Automaton& t, std::string& error) {
  int state = 0;
  etiquem::ResetAutomaton(t);
  if (etiquem::LoadAutomatonFile(t, name, error, state)) return true;
  while (!error.empty() && error.back() == '\n') error.pop_back();
  return false;
}

int Dump(const char* name) {
  etiquem::Automaton t;
  std::string error, text;
  if (!LoadFile(name, t, error)) return Fail(error);
  if (!etiquem::dictionary::DumpAtt(t, text, error)) return Fail(error);
  return WriteAndFlush(stdout, text) ? 0 : Fail("Error: cannot write the dump");
}

int Info(const char* name) {
  etiquem::Automaton t;
  std::string error, bytes;
  // Loaded first, so that a file that never ends is refused before it is
  // read whole for its size.
  if (!LoadFile(name, t, error)) return Fail(error);
  if (!ReadFile(name, bytes, error)) return Fail(error);
  const std::string text = etiquem::dictionary::CountsReport(t, bytes.size());
  return WriteAndFlush(stdout, text) ? 0
                                     : Fail("Error: cannot write the counts");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "-h" || command == "--help")
    return WriteAndFlush(stdout, kUsageText)
               ? 0
               : Fail("Error: cannot write the usage");
  if (command == "--version" && argc == 2)
    return WriteAndFlush(stdout, std::string("etiquem ") + etiquem::kVersion +
                                     "\n")
               ? 0
               : Fail("Error: cannot write the version");
  if (command == "compile") return Compile(argc, argv);
  if (command == "hunspell") return Hunspell(argc, argv);
  if ((command == "dump" || command == "info") && argc == 3)
    return command == "dump" ? Dump(argv[2]) : Info(argv[2]);
  std::fprintf(stderr, "Error: %s\n%s",
               command.empty()
                   ? "no command"
                   : ("bad command line for '" + command + "'").c_str(),
               kUsageText);
  return 2;
}
