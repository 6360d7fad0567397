// Start-up; see options.h.

#include "cli/options.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "cli/output_files.h"
#include "engine/messages.h"
#include "etiquem/etiquem.h"

namespace etiquem {

namespace {

[[noreturn]] void ExitWith(int status, const std::string& message) {
  WriteAll(2, message);
  _exit(status);
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

void ParseCommandLine(int argc, char** argv, CommandLine& o) {
  int c;
  while ((c = getopt(argc, argv, "hsf:b:d:am")) != -1) {
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
        if (!WriteAll(1, messages::kUsage))
          ExitWith(messages::kStatusFailure,
                   messages::WriteFailed(messages::kStandardOutputName, errno));
        _exit(0);
      default:
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
  if (o.has_automaton_file == 0) o.automaton_path = kDefaultAutomatonPath;

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

  OutputFiles files;
  files.standard_output.fd = 1;
  files.standard_output.name = messages::kStandardOutputName;
  files.unknown_words.name = messages::kUnknownWordsName;
  if (o.unknown_file == 1) {
    files.unknown_words.fd =
        open(o.unknown_path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (files.unknown_words.fd < 0)
      ExitWith(messages::kStatusFailure, messages::kUnknownWordsNotOpened);
  }

  Options options;
  options.surface_forms = o.surface_forms == 1;
  options.mark_unknown = o.mark_unknown == 1;
  options.apostrophe_blank = o.apostrophe_blank == 1;
  options.unknown_words = o.unknown_file == 1;
  const Step step = AnalyseDescriptor(*dictionary, options, input_fd,
                                      WriteBatch, &files, &error);
  // What was analysed before a failure has been handed to the outputs.
  if (step.reached == Reached::kError) ExitWith(error.status, error.message);
  return FinishOutputs(o, input_fd, files);
}

}  // namespace etiquem
