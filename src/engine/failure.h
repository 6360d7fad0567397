// How a failure deep inside an analysis reaches the stepping call.
//
// A failure (a read error, the live-state limit, a move to a state that does
// not exist) can arise many calls below the loop, in code that runs for
// every character. Rather than test a status after each of those calls, the
// code that meets it throws AnalysisFailure, and the stepping call
// (engine/analysis.h), the only place that catches it, turns it into the
// Error value the public interface returns. Nothing else throws it, and no
// caller of the engine ever sees it.

#ifndef ETIQUEM_ENGINE_FAILURE_H_
#define ETIQUEM_ENGINE_FAILURE_H_

#include <string>

namespace etiquem {

struct AnalysisFailure {
  int status = 0;       // the exit status the program ends with
  std::string message;  // one line, from engine/messages.h
};

[[noreturn]] inline void FailAnalysis(int status, std::string message) {
  throw AnalysisFailure{status, std::move(message)};
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_FAILURE_H_
