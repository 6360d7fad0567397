// The character ring and reader; see reader.h.

#include "engine/reader.h"

#include <utility>

namespace etiquem {

namespace {

void ClearRecords(RingEntry& p) {
  p.acceptance = kNoAcceptance;
  p.analysis.present = false;
  p.unknown.present = false;
}

// Takes a token from the scanner and stores it at the write position.
int TakeFresh(Reader& l, int& k) {
  Scanner& e = *l.scanner;
  // The token starts at the next byte to scan (a refill moves the block,
  // not this offset).
  const uint64_t input_number = ScannerOffset(e) + 1;
  int kind = NextToken(e);
  RingEntry& p = l.ring[l.write_position - 1];
  int code;
  if (kind == kTokenCharacter) {
    p.kind = kCharacter;
    p.byte = e.token.byte;
    code = p.byte;
  } else if (kind == kTokenSuperblank) {
    p.kind = kSuperblankMarker;
    p.byte = 1;
    code = kSuperblankCode;
    l.pending_superblanks.push_back(PendingSuperblank{});
    std::swap(l.pending_superblanks.back().text, e.token.text);
    l.pending_superblanks.back().input_number = input_number;
  } else if (kind == kTokenEnd) {
    p.kind = kEndOfInputMark;
    p.byte = 255;
    code = kEndOfInput;
  } else {
    Terminate(255, "Error, entrada inesperada\n", e.flush_before_read);
  }
  ClearRecords(p);
  p.input_number = input_number;
  k = l.write_position - 1;
  l.write_position = NextPosition(l.write_position);
  RingEntry& after = l.ring[l.write_position - 1];
  after.kind = kEmpty;
  after.byte = 0;
  ClearRecords(after);
  l.read_fresh = true;
  return code;
}

}  // namespace

void InitReader(Reader& l, Scanner* e) {
  for (RingEntry& p : l.ring) {
    p.byte = 0;
    p.kind = kEmpty;
    p.input_number = 0;
    ClearRecords(p);
  }
  l.write_position = 1;
  l.reread_position = 1;
  l.read_fresh = true;
  l.pending_superblanks.clear();
  l.scanner = e;
}

int NextFreshCharacter(Reader& l, int& k) { return TakeFresh(l, k); }

void WriteOldestSuperblank(Reader& l, OutputBuffer& s) {
  if (l.pending_superblanks.empty()) return;
  const std::string& text = l.pending_superblanks.front().text;
  WriteLarge(s, text);
  if (text.find("<![CDATA[.]]>") != std::string::npos) Flush(s);
  l.pending_superblanks.pop_front();
}

}  // namespace etiquem
