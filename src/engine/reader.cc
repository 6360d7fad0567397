// The character ring and reader; see reader.h.

#include "engine/reader.h"

#include <cstring>
#include <utility>

namespace etiquem {

int NextFreshCharacter(Reader& reader, RingIndex& index) {
  Scanner& scanner = *reader.scanner;
  // The token starts at the next byte to scan (a refill moves the block,
  // not this offset).
  const uint64_t input_number = ScannerOffset(scanner) + 1;
  const int kind = NextToken(scanner);
  RingEntry& entry = reader.ring[reader.write_index];
  int code;
  if (kind == kTokenCharacter) {
    entry.kind = kCharacter;
    entry.byte = scanner.token.byte;
    if (scanner.utf8) {
      entry.variant = scanner.token.variant;
      entry.length = scanner.token.length;
      std::memcpy(entry.raw, scanner.token.raw, 4);
    }
    code = CharacterCode(entry);
  } else if (kind == kTokenSuperblank) {
    entry.kind = kSuperblankMarker;
    entry.byte = 1;
    code = kSuperblankCode;
    PendingSuperblank& superblank = reader.pending_superblanks.emplace_back();
    std::swap(superblank.text, scanner.token.text);
    superblank.input_number = input_number;
    superblank.input_end = ScannerOffset(scanner);
  } else {
    assert(kind == kTokenEnd);
    entry.kind = kEndOfInputMark;
    entry.byte = 255;
    code = kEndOfInput;
  }
  entry.input_number = input_number;
  index = reader.write_index;
  reader.write_index = RingAdd(reader.write_index, 1);
  ClearWriteEntry(reader);
  reader.read_fresh = true;
  return code;
}

void InitReader(Reader& reader, Scanner* scanner) {
  for (RingEntry& entry : reader.ring) entry = RingEntry{};
  reader.write_index = 0;
  reader.reread_index = 0;
  reader.read_fresh = true;
  reader.pending_superblanks.clear();
  reader.scanner = scanner;
}

}  // namespace etiquem
