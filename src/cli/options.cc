// Start-up; see options.h.

#include "cli/options.h"

#include <fcntl.h>
#include <getopt.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "cli/json_pipeline.h"
#include "cli/json_writer.h"
#include "cli/output_files.h"
#include "cli/same_file.h"
#include "engine/messages.h"
#include "etiquem/etiquem.h"
#include "version.h"

namespace etiquem {

namespace {

[[noreturn]] void ExitWith(int status, const std::string& message) {
  WriteAll(2, message);
  _exit(status);
}

// Writes `text` to standard output and ends the program with status 0, or
// with the message of a failed write and status 1.
[[noreturn]] void WriteAndExit(std::string_view text) {
  if (!WriteAll(1, text))
    ExitWith(messages::kStatusFailure,
             messages::WriteFailed(messages::kStandardOutputName, errno));
  _exit(0);
}

// ---- Long options ----

// What a long option does.
enum class LongAction {
  kHelp,     // the usage text, then the long options; exit with status 0
  kVersion,  // "etiquem VERSION"; exit with status 0
  kSet,      // sets a field of CommandLine to 1
};

struct LongOption {
  const char* name;         // as written after "--"
  LongAction action;
  int CommandLine::*field;  // kSet: the field it sets; otherwise nullptr
  const char* description;  // its line in --help (in messages.h)
};

// Every long option, in the order --help lists them: adding one is one line
// here (with its description in messages.h and, for kSet, its field in
// CommandLine).
constexpr LongOption kLongOptions[] = {
    {"help", LongAction::kHelp, nullptr, messages::kHelpOptionText},
    {"version", LongAction::kVersion, nullptr, messages::kVersionOptionText},
    {"utf8", LongAction::kSet, &CommandLine::utf8, messages::kUtf8OptionText},
    {"json", LongAction::kSet, &CommandLine::json, messages::kJsonOptionText},
};

// getopt_long returns kFirstLongCode + i for kLongOptions[i]: above every
// character, so never a short option.
constexpr int kFirstLongCode = 256;
constexpr int kLongCount = static_cast<int>(std::size(kLongOptions));

constexpr std::array<option, kLongCount + 1> MakeGetoptTable() {
  std::array<option, kLongCount + 1> table{};  // ends with an all-zero entry
  for (int i = 0; i < kLongCount; ++i)
    table[i] = {kLongOptions[i].name, no_argument, nullptr, kFirstLongCode + i};
  return table;
}
constexpr std::array<option, kLongCount + 1> kGetoptTable = MakeGetoptTable();

// Whether the user's locale (LC_CTYPE from the environment) writes UTF-8.
// Asked of a locale object of its own, so the program's locale stays "C".
bool LocaleIsUtf8() {
  locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return false;
  const char* codeset = nl_langinfo_l(CODESET, user);
  const bool utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 ||
                                           std::strcmp(codeset, "utf8") == 0);
  freelocale(user);
  return utf8;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string utf8;
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

// --help: the usage text of -h, then one line per long option, in the
// locale's encoding (the texts are Latin-1).
std::string HelpText() {
  std::string text = messages::kUsage;
  for (const LongOption& l : kLongOptions)
    text += messages::LongOptionLine(l.name, l.description);
  return LocaleIsUtf8() ? Latin1ToUtf8(text) : text;
}

void TakeLongOption(const LongOption& l, CommandLine& o) {
  switch (l.action) {
    case LongAction::kHelp:
      WriteAndExit(HelpText());
    case LongAction::kVersion:
      WriteAndExit(messages::VersionLine(kVersion));
    case LongAction::kSet:
      assert(l.field != nullptr);
      o.*l.field = 1;
      return;
  }
}

// A closed standard descriptor would be taken by the next open(), and the
// program would then write its output into another file. Each closed one is
// held by /dev/null opened the wrong way round, so using it still fails.
void ProtectDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null_fd = open("/dev/null", fd == 0   ? O_WRONLY
                                    : fd == 1 ? O_RDONLY
                                              : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
}

// Closes the files once the analysis is over; the exit status.
int FinishOutputs(const CommandLine& o, int input_fd, OutputFiles& files) {
  if (!files.first_failure.empty())
    ExitWith(messages::kStatusFailure, files.first_failure);
  if (o.unknown_file == 1 && close(files.unknown_words.fd) != 0)
    ExitWith(messages::kStatusFailure, messages::kUnknownWordsNotClosed);
  return close(input_fd) == 0 ? 0 : 255;
}

}  // namespace

std::string DefaultAutomaton() {
  if (access(kDefaultAutomatonPath, F_OK) == 0) return kDefaultAutomatonPath;
  char executable[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", executable, sizeof executable);
  if (n <= 0 || size_t(n) >= sizeof executable) return kDefaultAutomatonPath;
  std::string dir(executable, size_t(n));
  assert(dir[0] == '/');          // the kernel gives an absolute path
  dir.erase(dir.rfind('/') + 1);  // the directory, with its final slash
  for (std::string_view relative : kOwnDictionaryPaths) {
    std::string base = dir;
    // "../" goes up from the directory by name: /proc/self/exe has no links
    while (relative.substr(0, 3) == "../" && base.size() > 1) {
      base.erase(base.rfind('/', base.size() - 2) + 1);
      relative.remove_prefix(3);
    }
    const std::string path = base + std::string(relative);
    if (access(path.c_str(), F_OK) == 0) return path;
  }
  return kDefaultAutomatonPath;
}

void ParseCommandLine(int argc, char** argv, CommandLine& o) {
  int c;
  while ((c = getopt_long(argc, argv, "hsf:b:d:am", kGetoptTable.data(),
                          nullptr)) != -1) {
    switch (c) {
      case 'a':
        o.apostrophe_blank = 1;
        break;
      case 'b':
        o.has_automaton_file = 1;
        o.automaton_path = optarg;
        break;
      case 'd':
        o.unknown_file = 1;
        o.unknown_path = optarg;
        break;
      case 'f':
        o.has_input_file = 1;
        o.input_path = optarg;
        break;
      case 'm':
        o.mark_unknown = 1;
        break;
      case 's':
        o.surface_forms = 1;
        break;
      case 'h':
        WriteAndExit(messages::kUsage);
      default:
        if (c >= kFirstLongCode && c < kFirstLongCode + kLongCount) {
          TakeLongOption(kLongOptions[c - kFirstLongCode], o);
          break;
        }
        // an unknown option, short or long, or a missing argument
        ExitWith(messages::kStatusFailure, messages::kUsageHint);
    }
  }
  if (optind < argc)
    ExitWith(messages::kStatusFailure,
             messages::InvalidArguments(argc - optind, argv + optind));
}

int RunProgram(int argc, char** argv) {
  ProtectDescriptors();
  CommandLine o;
  ParseCommandLine(argc, argv, o);
  std::string default_automaton;
  if (o.has_automaton_file == 0) {
    default_automaton = DefaultAutomaton();
    o.automaton_path = default_automaton.c_str();
  }

  int input_fd = 0;
  if (o.has_input_file == 1) {
    input_fd = open(o.input_path, O_RDONLY | O_CLOEXEC);
    if (input_fd < 0)
      ExitWith(messages::kStatusFailure,
               messages::InputNotOpened(o.input_path));
  }

  Error error;
  const std::shared_ptr<const Dictionary> dictionary =
      Dictionary::Load(o.automaton_path, &error);
  if (!dictionary) ExitWith(error.status, error.message);

  // No output may feed the input or overwrite the automaton: checked before
  // the unknown-words file is created, and again on what was opened.
  RunFiles run_files{input_fd, o.automaton_path, 1,
                     o.unknown_file == 1 ? o.unknown_path : nullptr, -1};
  if (std::string e = SameFileError(run_files); !e.empty())
    ExitWith(messages::kStatusFailure, e);

  OutputFiles files;
  files.standard_output.fd = 1;
  files.standard_output.name = messages::kStandardOutputName;
  files.unknown_words.name = messages::kUnknownWordsName;
  if (o.unknown_file == 1) {
    files.unknown_words.fd =
        open(o.unknown_path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (files.unknown_words.fd < 0)
      ExitWith(messages::kStatusFailure, messages::kUnknownWordsNotOpened);
    run_files.unknown_fd = files.unknown_words.fd;
    if (std::string e = SameFileError(run_files); !e.empty())
      ExitWith(messages::kStatusFailure, e);
  }

  Options options;
  options.surface_forms = o.surface_forms == 1;
  options.mark_unknown = o.mark_unknown == 1;
  options.apostrophe_blank = o.apostrophe_blank == 1;
  options.unknown_words = o.unknown_file == 1;
  options.utf8 = o.utf8 == 1;
  options.events = o.json == 1;
  JsonWriter json;
  json.dictionary = dictionary.get();
  json.utf8 = options.utf8;
  json.files = &files;
  InputReport report;
  Step step;
  // --json: one processor makes the lines, the others analyse. With two
  // processors, that is the analysis on one thread beside the lines' thread
  // (the pipeline): on ca.txt, two workers with the lines made beside them
  // took a fifth more processor time for no gain in wall time.
  const int json_workers = std::max(AnalysisThreads() - 1, 1);
  if (o.json == 1 && AnalysesInPieces(input_fd, json_workers)) {
    // The lines are made on this thread while the workers analyse.
    step = AnalyseDescriptor(*dictionary, options, input_fd, WriteJsonBatch,
                             &json, &error, json_workers, &report);
  } else if (o.json == 1) {
    JsonPipeline pipeline(&json);
    options.keep_previous_batch = true;
    step = AnalyseDescriptor(*dictionary, options, input_fd,
                             JsonPipeline::Sink, &pipeline, &error, 1, &report);
    pipeline.Finish();  // a failed write is in `files`, as without --json
  } else {
    step = AnalyseDescriptor(*dictionary, options, input_fd, WriteBatch, &files,
                             &error, 0, &report);
  }
  // What was analysed before a failure has been handed to the outputs.
  if (step.reached == Reached::kError) ExitWith(error.status, error.message);
  if (step.reached == Reached::kEnd && report.invalid_utf8 > 0)
    WriteAll(2, messages::InvalidUtf8Warning(report.invalid_utf8,
                                             report.first_invalid_utf8));
  return FinishOutputs(o, input_fd, files);
}

}  // namespace etiquem
