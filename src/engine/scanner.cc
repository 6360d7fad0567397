// The input scanner; see scanner.h.

#include "engine/scanner.h"

#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "engine/failure.h"
#include "engine/messages.h"

namespace etiquem {

namespace {

constexpr char kOpener[] = "<![CDATA[";
constexpr size_t kOpenerLength = 9;
// Superblank storage larger than this is given back after the block is
// delivered, so one huge block does not pin its memory for the whole run.
constexpr size_t kRetainedCapacity = 1 << 20;

// Reads more input after the unscanned bytes. False at end of input (and on
// every call after it, without reading again).
bool Refill(Scanner& e) {
  if (e.at_end) return false;
  if (e.flush_before_read) Deliver(*e.flush_before_read);
  if (e.next > 0) {
    std::memmove(e.block.data(), e.block.data() + e.next, e.end - e.next);
    e.end -= e.next;
    e.block_offset += e.next;
    e.next = 0;
  }
  for (;;) {
    char* free_start = e.block.data() + e.end;
    const size_t room = e.block.size() - e.end;
    ssize_t r;
    if (e.fd < 0) {
      // Bytes in memory, read as a descriptor would give them.
      r = ssize_t(std::min(room, e.memory.size()));
      std::memcpy(free_start, e.memory.data(), size_t(r));
      e.memory.remove_prefix(size_t(r));
    } else if (e.file_offset >= 0) {
      r = pread(e.fd, free_start, room, e.file_offset);
    } else {
      r = read(e.fd, free_start, room);
    }
    ++e.read_calls;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0)
      FailAnalysis(messages::kStatusReadFailed, messages::ReadFailed(errno));
    if (r == 0) {
      e.at_end = true;
      return false;
    }
    e.end += size_t(r);
    if (e.file_offset >= 0) e.file_offset += r;
    return true;
  }
}

// At a "<" outside a superblank: whether the whole opener follows. Reads more
// input when the buffer ends inside a possible opener.
bool OpenerFollows(Scanner& e) {
  size_t j = 1;
  while (j < kOpenerLength) {
    if (e.next + j == e.end && !Refill(e)) return false;
    if (e.block[e.next + j] != kOpener[j]) return false;
    ++j;
  }
  return true;
}

int DeliverSuperblank(Scanner& e) {
  e.state = kInText;
  ClearToken(e);
  if (e.utf8) {
    // Its text is its input bytes, and then a closer added when the input
    // ended inside it: ASCII, which counts nothing and cuts what it follows
    // as the end of the input would.
    const std::string& text = e.superblank_text;
    CountInvalidUtf8(reinterpret_cast<const uint8_t*>(text.data()),
                     text.size(), e.superblank_offset, true, e.invalid_utf8);
  }
  std::swap(e.token.text, e.superblank_text);
  e.token.has_text = true;
  return kTokenSuperblank;
}

// Gathers a superblank's content up to and including its closer.
int PendingSuperblank(Scanner& e) {
  for (;;) {
    if (e.next == e.end && !Refill(e)) {
      e.superblank_text += "]]>";
      return DeliverSuperblank(e);
    }
    const char* start = e.block.data() + e.next;
    const char* gt =
        static_cast<const char*>(std::memchr(start, '>', e.end - e.next));
    if (gt == nullptr) {
      e.superblank_text.append(start, e.end - e.next);
      e.next = e.end;
      continue;
    }
    e.superblank_text.append(start, size_t(gt - start) + 1);
    e.next += size_t(gt - start) + 1;
    // Closed when the two bytes before ">" are "]]" of the content (the
    // opener itself ends in "[").
    const size_t n = e.superblank_text.size();
    if (n >= kOpenerLength + 3 && e.superblank_text[n - 2] == ']' &&
        e.superblank_text[n - 3] == ']')
      return DeliverSuperblank(e);
  }
}

// A character token of UTF-8 input whose first byte, at e.next, is not
// ASCII: a character or an invalid unit.
int DecodeCharacter(Scanner& e) {
  uint32_t code_point = 0;
  int r;
  // A sequence cut by the block's end waits for more input.
  while ((r = Utf8Unit(reinterpret_cast<const uint8_t*>(e.block.data()) +
                           e.next,
                       e.end - e.next, e.at_end, code_point)) == 0)
    Refill(e);
  ScannedToken& token = e.token;
  token.length = uint8_t(r > 0 ? r : -r);
  std::memcpy(token.raw, e.block.data() + e.next, token.length);
  if (r > 0) {
    token.variant = ClassifyCodePoint(code_point, token.byte);
  } else {
    token.variant = kOutsideCharacter;
    token.byte = 0;
    NoteInvalidUtf8(e.invalid_utf8, ScannerOffset(e));
  }
  e.next += token.length;
  return kTokenCharacter;
}

}  // namespace

void InitScanner(Scanner& e, const Input& input, size_t block_size,
                 bool utf8) {
  // Room for a block plus an opener that straddles two reads.
  block_size = std::max(block_size, kOpenerLength * 2);
  std::vector<char> block;
  block.swap(e.block);  // kept from an earlier input
  if (block.size() != block_size) block.assign(block_size, 0);
  e = Scanner{};
  e.block.swap(block);
  e.fd = input.fd;
  e.memory = input.fd < 0 ? input.bytes : std::string_view();
  e.file_offset = input.fd < 0 ? -1 : input.file_offset;
  e.block_offset = input.offset;
  e.utf8 = utf8;
}

void ClearToken(Scanner& e) {
  e.token.byte = 0;
  e.token.variant = kLatin1Character;
  e.token.length = 0;
  if (e.token.has_text) {
    e.token.text.clear();
    if (e.token.text.capacity() > kRetainedCapacity)
      std::string().swap(e.token.text);
    e.token.has_text = false;
  }
}

int NextTokenSlow(Scanner& e) {
  ClearToken(e);
  if (e.state == kInSuperblank) return PendingSuperblank(e);
  if (e.next == e.end && !Refill(e)) return kTokenEnd;
  if (e.block[e.next] == '<' && OpenerFollows(e)) {
    e.superblank_offset = ScannerOffset(e);
    e.next += kOpenerLength;
    e.state = kInSuperblank;
    if (e.superblank_text.capacity() > kRetainedCapacity)
      std::string().swap(e.superblank_text);
    e.superblank_text.assign(kOpener, kOpenerLength);
    return PendingSuperblank(e);
  }
  const uint8_t b = uint8_t(e.block[e.next]);
  if (e.utf8 && b >= 0x80) return DecodeCharacter(e);
  ++e.next;
  e.token.byte = b;
  e.token.length = 1;
  e.token.raw[0] = b;
  return kTokenCharacter;
}

}  // namespace etiquem
