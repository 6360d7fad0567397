// The input scanner: character tokens, whole superblanks, the fall-back of an
// unfinished opener, end of input, and reading in blocks from a descriptor
// (regular files, pipes, and sockets that hand over one byte per read).
//
// Besides the cases named one by one, a small model of the token rules (the
// opener starts a block that runs to the first "]]>" after it, or to the end
// of the input; every other byte is a token of its own) is compared with the
// scanner on many generated inputs, read with many block sizes.

#include "engine/scanner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/failure.h"
#include "engine/output.h"

namespace etiquem {
namespace {

Input FromDescriptor(int fd) {
  Input input;
  input.fd = fd;
  return input;
}

const std::string kOpener = "<![CDATA[";

// One delivered token: its kind and its byte or text.
struct SeenToken {
  int kind;
  std::string value;
  bool operator==(const SeenToken&) const = default;
};

std::ostream& operator<<(std::ostream& o, const SeenToken& t) {
  o << t.kind << ":";
  for (unsigned char c : t.value) {
    if (c >= 32 && c < 127)
      o << c;
    else
      o << "\\x" << std::hex << int(c) << std::dec;
  }
  return o;
}

SeenToken CharacterToken(char c) {
  return {kTokenCharacter, std::string(1, c)};
}
SeenToken SuperblankToken(const std::string& s) {
  return {kTokenSuperblank, s};
}
const SeenToken kEnd{kTokenEnd, ""};

// Character tokens for every byte of `s`.
std::vector<SeenToken> CharacterTokens(const std::string& s) {
  std::vector<SeenToken> v;
  for (char c : s) v.push_back(CharacterToken(c));
  return v;
}

std::vector<SeenToken> operator+(std::vector<SeenToken> a,
                                 const std::vector<SeenToken>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Reads tokens up to and including the first end of input.
std::vector<SeenToken> Tokens(Scanner& e) {
  std::vector<SeenToken> v;
  for (;;) {
    int t = NextToken(e);
    if (t == kTokenCharacter) {
      EXPECT_FALSE(e.token.has_text);
      v.push_back(CharacterToken(char(e.token.byte)));
    } else if (t == kTokenSuperblank) {
      EXPECT_TRUE(e.token.has_text);
      EXPECT_EQ(e.token.byte, 0);
      v.push_back(SuperblankToken(e.token.text));
    } else {
      EXPECT_EQ(t, kTokenEnd);
      EXPECT_EQ(e.token.byte, 0);
      v.push_back(kEnd);
      return v;
    }
  }
}

// A descriptor from which `data` can be read to its end.
int FileWith(const std::string& data) {
  FILE* f = tmpfile();
  EXPECT_NE(f, nullptr);
  fwrite(data.data(), 1, data.size(), f);
  fflush(f);
  int fd = dup(fileno(f));
  fclose(f);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::vector<SeenToken> Scan(const std::string& data, size_t block = 1 << 16) {
  int fd = FileWith(data);
  Scanner e;
  InitScanner(e, FromDescriptor(fd), block);
  std::vector<SeenToken> v = Tokens(e);
  close(fd);
  return v;
}

// A socket pair in which every byte of `data` is one packet, so that every
// read(2) of the scanner returns exactly one byte.
std::vector<SeenToken> ScanByteByByte(const std::string& data) {
  int s[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, s), 0);
  std::thread writer([&] {
    for (char c : data) EXPECT_EQ(write(s[1], &c, 1), 1);
    close(s[1]);
  });
  Scanner e;
  InitScanner(e, FromDescriptor(s[0]));
  std::vector<SeenToken> v = Tokens(e);
  writer.join();
  EXPECT_GE(e.read_calls, data.size());
  close(s[0]);
  return v;
}

// The token rules, written plainly.
std::vector<SeenToken> Model(const std::string& s) {
  std::vector<SeenToken> v;
  size_t i = 0;
  while (i < s.size()) {
    if (s.compare(i, kOpener.size(), kOpener) == 0) {
      size_t close_at = s.find("]]>", i + kOpener.size());
      if (close_at == std::string::npos) {
        v.push_back(SuperblankToken(s.substr(i) + "]]>"));
        i = s.size();
      } else {
        v.push_back(SuperblankToken(s.substr(i, close_at + 3 - i)));
        i = close_at + 3;
      }
    } else {
      v.push_back(CharacterToken(s[i++]));
    }
  }
  v.push_back(kEnd);
  return v;
}

TEST(Scanner, CharactersAndRepeatedEnd) {
  int fd = FileWith("a b");
  Scanner e;
  InitScanner(e, FromDescriptor(fd));
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, 'a');
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, ' ');
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, 'b');
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(NextToken(e), kTokenEnd);
    EXPECT_EQ(e.token.byte, 0);
    EXPECT_FALSE(e.token.has_text);
  }
  close(fd);
}

TEST(Scanner, EmptyInput) { EXPECT_EQ(Scan(""), std::vector<SeenToken>{kEnd}); }

TEST(Scanner, RepeatedEndAfterASuperblank) {
  int fd = FileWith("<![CDATA[xy]]>");
  Scanner e;
  InitScanner(e, FromDescriptor(fd));
  ASSERT_EQ(NextToken(e), kTokenSuperblank);
  EXPECT_EQ(e.token.text, "<![CDATA[xy]]>");
  EXPECT_EQ(e.token.text.size(), 14u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(NextToken(e), kTokenEnd);
    EXPECT_FALSE(e.token.has_text);
  }
  close(fd);
}

TEST(Superblank, Empty) {
  EXPECT_EQ(Scan("<![CDATA[]]>"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[]]>"), kEnd}));
  EXPECT_EQ(Scan("a<![CDATA[]]><![CDATA[]]>b"),
            (std::vector<SeenToken>{
                CharacterToken('a'), SuperblankToken("<![CDATA[]]>"),
                SuperblankToken("<![CDATA[]]>"), CharacterToken('b'), kEnd}));
}

TEST(Superblank, WithLineBreaks) {
  EXPECT_EQ(Scan("x<![CDATA[\n a\t\n\n]]>\ny"),
            (std::vector<SeenToken>{
                CharacterToken('x'), SuperblankToken("<![CDATA[\n a\t\n\n]]>"),
                CharacterToken('\n'), CharacterToken('y'), kEnd}));
}

TEST(Superblank, BracketsBeforeTheCloser) {
  // n "]" before ">" close the block with n-2 of them as content.
  EXPECT_EQ(Scan("<![CDATA[a]]]>b"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[a]]]>"),
                                    CharacterToken('b'), kEnd}));
  EXPECT_EQ(Scan("<![CDATA[]]]]]>"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[]]]]]>"), kEnd}));
  // "]>" and a lone "]" are content.
  EXPECT_EQ(
      Scan("<![CDATA[]>]x]>>]]>"),
      (std::vector<SeenToken>{SuperblankToken("<![CDATA[]>]x]>>]]>"), kEnd}));
}

TEST(Superblank, CloserCannotShareTheOpenersBracket) {
  // The "[" ending the opener does not start a closer: "<![CDATA[]>" is
  // still open.
  EXPECT_EQ(Scan("<![CDATA[]>z"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[]>z]]>"), kEnd}));
}

TEST(Superblank, NoNesting) {
  EXPECT_EQ(Scan("<![CDATA[<![CDATA[a]]>]]>"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[<![CDATA[a]]>")} +
             CharacterTokens("]]>") + std::vector<SeenToken>{kEnd}));
}

TEST(Superblank, CloserOutsideABlockIsCharacters) {
  EXPECT_EQ(Scan("]]>"), CharacterTokens("]]>") + std::vector<SeenToken>{kEnd});
}

TEST(Superblank, EndInsideABlockClosesIt) {
  EXPECT_EQ(Scan("a<![CDATA[b c"),
            (std::vector<SeenToken>{CharacterToken('a'),
                                    SuperblankToken("<![CDATA[b c]]>"), kEnd}));
  EXPECT_EQ(Scan("<![CDATA["),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[]]>"), kEnd}));
  // A closer cut short at the end is content.
  EXPECT_EQ(Scan("<![CDATA[x]]"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[x]]]]>"), kEnd}));
  EXPECT_EQ(Scan("<![CDATA[x]"),
            (std::vector<SeenToken>{SuperblankToken("<![CDATA[x]]]>"), kEnd}));
}

TEST(Opener, CutAfterEveryByte) {
  for (size_t n = 1; n <= 8; ++n) {
    const std::string chunk = kOpener.substr(0, n);
    // Followed by a byte that does not continue it.
    EXPECT_EQ(Scan(chunk + "z"),
              CharacterTokens(chunk + "z") + std::vector<SeenToken>{kEnd})
        << chunk;
    // Followed by the end of the input.
    EXPECT_EQ(Scan(chunk),
              CharacterTokens(chunk) + std::vector<SeenToken>{kEnd})
        << chunk;
    // Followed by a whole block: the bytes after "<" are scanned afresh.
    EXPECT_EQ(
        Scan(chunk + "<![CDATA[q]]>"),
        CharacterTokens(chunk) +
            std::vector<SeenToken>({SuperblankToken("<![CDATA[q]]>"), kEnd}))
        << chunk;
    // Followed by a newline.
    EXPECT_EQ(Scan(chunk + "\n"),
              CharacterTokens(chunk + "\n") + std::vector<SeenToken>{kEnd})
        << chunk;
  }
}

TEST(Opener, OtherCapitalsAreText) {
  for (const std::string s : {"<![cdata[x]]>", "<![CData[x]]>", "<![CDATa[]]>",
                              "<!-[CDATA[x]]>", "< ![CDATA[x]]>"}) {
    EXPECT_EQ(Scan(s), CharacterTokens(s) + std::vector<SeenToken>{kEnd}) << s;
  }
}

TEST(Opener, SplitAcrossByteByByteReads) {
  // Each read returns one byte, so the opener and closer always straddle
  // reads.
  for (const std::string s :
       {"a<![CDATA[b]]>c", "<![CDATA[]]>", "<![CDAT<![CDATA[x]]]>",
        "<<![CDATA[\n]]>]]>", "<![CDATA[sense final"}) {
    EXPECT_EQ(ScanByteByByte(s), Model(s)) << s;
  }
}

TEST(Opener, SplitAcrossPipeReads) {
  // A pipe written one byte at a time, with pauses, so the scanner often
  // finds the buffer empty in the middle of an opener or a closer.
  const std::string s = "x<![CDATA[a]b]]>y<![CD<![CDATA[]]]>z";
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::thread writer([&] {
    for (char c : s) {
      EXPECT_EQ(write(p[1], &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    close(p[1]);
  });
  Scanner e;
  InitScanner(e, FromDescriptor(p[0]));
  std::vector<SeenToken> v = Tokens(e);
  writer.join();
  close(p[0]);
  EXPECT_EQ(v, Model(s));
  EXPECT_GT(e.read_calls, 4u) << "the pipe was read in several pieces";
}

TEST(Opener, WaitsForNoMoreInputThanNeeded) {
  // With "ab" in the pipe and the pipe still open, both characters come out
  // without waiting; "<!" needs more input before it can be decided.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(write(p[1], "ab<!", 4), 4);
  Scanner e;
  InitScanner(e, FromDescriptor(p[0]));
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, 'a');
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, 'b');
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(write(p[1], "x", 1), 1);
    close(p[1]);
  });
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, '<');
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, '!');
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, 'x');
  EXPECT_EQ(NextToken(e), kTokenEnd);
  writer.join();
  close(p[0]);
}

TEST(NulBytes, AreOrdinaryCharacters) {
  const std::string s("a\0b\0", 4);
  EXPECT_EQ(Scan(s), CharacterTokens(s) + std::vector<SeenToken>{kEnd});
}

TEST(NulBytes, AreKeptInsideASuperblank) {
  const std::string text("<![CDATA[a\0b\0\0]]>", 17);
  std::vector<SeenToken> v = Scan("x" + text + std::string("\0", 1));
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[1], SuperblankToken(text));
  EXPECT_EQ(v[1].value.size(), 17u);
  EXPECT_EQ(v[2], CharacterToken('\0'));
}

TEST(LargeSuperblank, IsKeptWhole) {
  // Far past the 10000 bytes of a fixed buffer, with everything a block may
  // hold: newlines, NUL bytes, "]>", lone "]", a nested opener.
  std::string rendered;
  for (int i = 0; rendered.size() < 300000; ++i) {
    rendered += "linia " + std::to_string(i) + " ]> ] <![CDATA[ ";
    rendered += char(i % 256 == ']' ? 'x' : i % 256);
    rendered += '\n';
  }
  rendered += std::string(1, '\0');
  const std::string text = kOpener + rendered + "]]>";
  for (size_t block : {size_t(1) << 16, size_t(4096), size_t(17)}) {
    std::vector<SeenToken> v = Scan("a" + text + "b", block);
    ASSERT_EQ(v.size(), 4u) << block;
    EXPECT_EQ(v[1].kind, kTokenSuperblank);
    EXPECT_EQ(v[1].value.size(), text.size()) << block;
    EXPECT_TRUE(v[1].value == text) << block;
    EXPECT_EQ(v[2], CharacterToken('b'));
  }
}

TEST(LargeSuperblank, TheNextSuperblankDoesNotDragTheText) {
  const std::string large = kOpener + std::string(2 << 20, 'g') + "]]>";
  EXPECT_EQ(Scan(large + "<![CDATA[p]]>"),
            (std::vector<SeenToken>{SuperblankToken(large),
                                    SuperblankToken("<![CDATA[p]]>"), kEnd}));
}

TEST(Model, GeneratedInputsWithSeveralBlockSizes) {
  // Inputs built from pieces that make openers, near-openers and closers
  // likely, compared with the rules for block sizes small and large.
  const std::vector<std::string> pieces = {"<![CDATA[",
                                           "<![CDATA",
                                           "<![CD",
                                           "<!",
                                           "<",
                                           "]]>",
                                           "]]",
                                           "]",
                                           ">",
                                           "a",
                                           "\n",
                                           " ",
                                           std::string("\0", 1),
                                           "\xff",
                                           "<![cdata["};
  std::mt19937 gen(12345);
  for (int test_case = 0; test_case < 400; ++test_case) {
    std::string s;
    int n = int(gen() % 30);
    for (int i = 0; i < n; ++i) s += pieces[gen() % pieces.size()];
    const std::vector<SeenToken> expected = Model(s);
    for (size_t block : {size_t(1), size_t(18), size_t(19), size_t(23),
                         size_t(64), size_t(1) << 16}) {
      ASSERT_EQ(Scan(s, block), expected)
          << "case " << test_case << " block " << block;
    }
    if (test_case % 20 == 0) {
      ASSERT_EQ(ScanByteByByte(s), expected) << test_case;
    }
  }
}

TEST(Reading, HandsTheOutputOverBeforeEveryRead) {
  // What was written for the input consumed so far leaves the engine
  // before the scanner reads again, and not at every token.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  std::vector<std::string> batches;
  Output s;
  s.sink = [](void* context, const Batch& batch) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(batch.output);
    return true;
  };
  s.sink_context = &batches;
  Scanner e;
  InitScanner(e, FromDescriptor(input[0]));
  e.flush_before_read = &s;

  ASSERT_EQ(write(input[1], "ab", 2), 2);
  Write(s, "abans");
  EXPECT_EQ(NextToken(e), kTokenCharacter);  // reads: hands over first
  EXPECT_EQ(batches, std::vector<std::string>{"abans"});
  Write(s, "mig");
  EXPECT_EQ(NextToken(e), kTokenCharacter);  // 'b' is already in the block
  EXPECT_EQ(batches.size(), 1u);
  close(input[1]);
  EXPECT_EQ(NextToken(e), kTokenEnd);  // reads again
  EXPECT_EQ(batches, (std::vector<std::string>{"abans", "mig"}));
  close(input[0]);
}

TEST(Reading, AReadErrorIsAFailureWithStatus2) {
  // Reading a directory fails with EISDIR.
  const int fd = open("/", O_RDONLY | O_DIRECTORY);
  Scanner e;
  InitScanner(e, FromDescriptor(fd));
  try {
    NextToken(e);
    ADD_FAILURE() << "no failure";
  } catch (const AnalysisFailure& failure) {
    EXPECT_EQ(failure.status, 2);
    EXPECT_EQ(failure.message.rfind("Error: No se pudo leer la entrada: ", 0),
              0u);
  }
  close(fd);
}

TEST(Reading, BytesInMemoryReadAsADescriptorWould) {
  Input input;
  input.bytes = "ab<![CDATA[x]]>c";
  Scanner e;
  InitScanner(e, input, 4);
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(NextToken(e), kTokenSuperblank);
  EXPECT_EQ(e.token.text, "<![CDATA[x]]>");
  EXPECT_EQ(NextToken(e), kTokenCharacter);
  EXPECT_EQ(e.token.byte, 'c');
  EXPECT_EQ(NextToken(e), kTokenEnd);
}

}  // namespace
}  // namespace etiquem
