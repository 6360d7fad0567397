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
// would end the fuzzer without a report, so comu.cc replaces _exit with a
// version that names the status and aborts: the fuzzer then keeps the input
// as a crash. Targets avoid the conditions that are expected to be fatal
// (live-state bound, destinations out of range) before running the code.

#ifndef ETIQUEM_FUZZ_COMU_H_
#define ETIQUEM_FUZZ_COMU_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace etiquem::fuzz {

// A memfd made on first use and reused; `nom` names it in /proc.
int Memfd(int& fd, const char* nom);

// Empties `fd`, writes `dades` into it and rewinds it for reading.
void Posa(int fd, std::string_view dades);

// Empties `fd` and rewinds it for writing.
void Buida(int fd);

// Everything in `fd`, from its start.
std::string Contingut(int fd);

// Checks that `missatge` is one line beginning "Error" (its line end, if
// any, last).
void ComprovaMissatge(const std::string& missatge);

// Stops the run with a message on standard error: an invariant failed.
[[noreturn]] void Falla(const char* que, std::string_view esperat = {},
                        std::string_view obtingut = {});

}  // namespace etiquem::fuzz

#endif  // ETIQUEM_FUZZ_COMU_H_
