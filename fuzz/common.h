// Support shared by the fuzz targets: descriptors in memory for the code
// that reads and writes file descriptors, and the rule that a fatal exit of
// the program is a finding.
//
// The scanner reads a descriptor and the writers write one, so the targets
// hand them memfds: the text is written into one and read back from the
// start, the output gathers in another. The descriptors are made once per
// process and emptied before every run.
//
// The program ends on a fatal condition by _exit. Inside a fuzz target that
// would end the fuzzer without a report, so common.cc replaces _exit with a
// version that names the status and aborts: the fuzzer then keeps the input
// as a crash. Targets avoid the conditions that are expected to be fatal
// (live-state bound, destinations out of range) before running the code.

#ifndef ETIQUEM_FUZZ_COMMON_H_
#define ETIQUEM_FUZZ_COMMON_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace etiquem::fuzz {

// A memfd made on first use and reused; `name` names it in /proc.
int Memfd(int& fd, const char* name);

// Empties `fd`, writes `data` into it and rewinds it for reading.
void Load(int fd, std::string_view data);

// Empties `fd` and rewinds it for writing.
void Empty(int fd);

// Everything in `fd`, from its start.
std::string Contents(int fd);

// Checks that `message` is one line beginning "Error" (its line end, if
// any, last).
void CheckMessage(const std::string& message);

// Stops the run with a message on standard error: an invariant failed.
[[noreturn]] void Fail(const char* problem, std::string_view expected = {},
                       std::string_view actual = {});

}  // namespace etiquem::fuzz

#endif  // ETIQUEM_FUZZ_COMMON_H_
