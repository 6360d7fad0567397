// Test helper: whole runs of a built program.
//
// Runs a program with the given arguments, feeding `input` (any bytes) on
// its standard input and capturing standard output and standard error apart,
// with a time limit, so that tests can check the exact bytes and the exit
// status users see.
//
//   Result r = RunCommand({ETIQUEM_BIN, "-b", bin}, "casa\n");
//   EXPECT_EQ(r.output, "...");
//   EXPECT_EQ(r.status, 0);

#ifndef ETIQUEM_TESTS_PROCESS_H_
#define ETIQUEM_TESTS_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace etiquem::test_support {

// Whether this build runs under AddressSanitizer, whose runtime changes
// memory figures and cannot start under a small address-space limit: tests
// of peak memory or of running out of memory skip there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kWithSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kWithSanitizer = true;
#else
inline constexpr bool kWithSanitizer = false;
#endif
#else
inline constexpr bool kWithSanitizer = false;
#endif

struct Result {
  std::string output;      // everything written on standard output
  std::string errors;      // everything written on standard error
  int status = -1;         // exit status 0..255; -1 if killed by a signal
  int signal_number = 0;   // the signal that ended it, or 0
  bool timed_out = false;  // killed because it outlived the limit
  double seconds = 0;      // wall-clock time from start to end
  long peak_kb = 0;        // peak resident size, in KiB (getrusage)
};

// How standard output is connected.
enum class StandardOutputMode {
  kCaptured,  // a pipe read into Result::output
  kClosed,    // closed before the program starts
  kFull,      // /dev/full: every write fails with ENOSPC
  kAppend,    // appended to RunOptions::output_path, as `>> path` does
};

struct RunOptions {
  std::string directory;  // working directory; empty: the current one
  StandardOutputMode output = StandardOutputMode::kCaptured;
  int seconds = 30;  // time limit, after which the program is killed
  std::string output_path;   // the file of StandardOutputMode::kAppend
  bool errors_full = false;  // standard error on /dev/full (errors are lost)
  // When not 0: standard input is `input` repeated up to this many bytes
  // (UINT64_MAX: until the program stops reading).
  uint64_t input_length = 0;
  // When not 0: the child's address space is limited to this many bytes
  // (RLIMIT_AS), so that a runaway allocation fails instead of taking the
  // machine's memory. Useless under AddressSanitizer, which reserves more.
  uint64_t address_space_limit = 0;
};

// Runs `args[0]` (a path; no PATH search) with `args` as its argv. The
// calling process ignores SIGPIPE from then on (a program that exits before
// reading all its input must not kill the test); the child gets the default
// action back. Throws std::runtime_error if the program cannot be started.
Result RunCommand(const std::vector<std::string>& args,
                  const std::string& input = "",
                  const RunOptions& options = {});

// Runs with standard input read from the file at `input_path` instead
// (for inputs too large or too special for a pipe).
Result RunWithInputFile(const std::vector<std::string>& args,
                        const std::string& input_path,
                        const RunOptions& options = {});

// Runs `command` with /bin/sh to its end and returns the peak resident
// memory of the largest process it ran, in KiB; negative when it failed.
long PeakMemoryKiB(const std::string& command);

// The whole contents of the file at `path` (empty when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace etiquem::test_support

#endif  // ETIQUEM_TESTS_PROCESS_H_
