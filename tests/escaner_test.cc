// The input scanner: character tokens, whole superblanks, the fall-back of an
// unfinished opener, end of input, and reading in blocks from a descriptor
// (regular files, pipes, and sockets that hand over one byte per read).
//
// Besides the cases named one by one, a small model of the token rules (the
// opener starts a block that runs to the first "]]>" after it, or to the end
// of the input; every other byte is a token of its own) is compared with the
// scanner on many generated inputs, read with many block sizes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "input/escaner.h"
#include "output/sortida.h"

namespace etiquem {
namespace {

const std::string kObridor = "<![CDATA[";

// One delivered token: its kind and its byte or text.
struct Tok {
  int tipus;
  std::string valor;
  bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Tok& t) {
  o << t.tipus << ":";
  for (unsigned char c : t.valor) {
    if (c >= 32 && c < 127)
      o << c;
    else
      o << "\\x" << std::hex << int(c) << std::dec;
  }
  return o;
}

Tok Car(char c) { return {TOKEN_CARACTER, std::string(1, c)}; }
Tok Super(const std::string& s) { return {TOKEN_SUPERBLANC, s}; }
const Tok kFinal{TOKEN_FINAL, ""};

// Character tokens for every byte of `s`.
std::vector<Tok> Cars(const std::string& s) {
  std::vector<Tok> v;
  for (char c : s) v.push_back(Car(c));
  return v;
}

std::vector<Tok> operator+(std::vector<Tok> a, const std::vector<Tok>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Reads tokens up to and including the first end of input.
std::vector<Tok> Tokens(Escaner& e) {
  std::vector<Tok> v;
  for (;;) {
    int t = yylex(e);
    if (t == TOKEN_CARACTER) {
      EXPECT_FALSE(e.token.te_cadena);
      v.push_back(Car(char(e.token.caracter)));
    } else if (t == TOKEN_SUPERBLANC) {
      EXPECT_TRUE(e.token.te_cadena);
      EXPECT_EQ(e.token.caracter, 0);
      v.push_back(Super(e.token.cadena));
    } else {
      EXPECT_EQ(t, TOKEN_FINAL);
      EXPECT_EQ(e.token.caracter, 0);
      v.push_back(kFinal);
      return v;
    }
  }
}

// A descriptor from which `dades` can be read to its end.
int FitxerAmb(const std::string& dades) {
  FILE* f = tmpfile();
  EXPECT_NE(f, nullptr);
  fwrite(dades.data(), 1, dades.size(), f);
  fflush(f);
  int fd = dup(fileno(f));
  fclose(f);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::vector<Tok> Escaneja(const std::string& dades, size_t bloc = 1 << 16) {
  int fd = FitxerAmb(dades);
  Escaner e;
  IniciaEscaner(e, fd, bloc);
  std::vector<Tok> v = Tokens(e);
  close(fd);
  return v;
}

// A socket pair in which every byte of `dades` is one packet, so that every
// read(2) of the scanner returns exactly one byte.
std::vector<Tok> EscanejaByteAByte(const std::string& dades) {
  int s[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, s), 0);
  std::thread escriptor([&] {
    for (char c : dades) EXPECT_EQ(write(s[1], &c, 1), 1);
    close(s[1]);
  });
  Escaner e;
  IniciaEscaner(e, s[0]);
  std::vector<Tok> v = Tokens(e);
  escriptor.join();
  EXPECT_GE(e.lectures, dades.size());
  close(s[0]);
  return v;
}

// The token rules, written plainly.
std::vector<Tok> Model(const std::string& s) {
  std::vector<Tok> v;
  size_t i = 0;
  while (i < s.size()) {
    if (s.compare(i, kObridor.size(), kObridor) == 0) {
      size_t tanca = s.find("]]>", i + kObridor.size());
      if (tanca == std::string::npos) {
        v.push_back(Super(s.substr(i) + "]]>"));
        i = s.size();
      } else {
        v.push_back(Super(s.substr(i, tanca + 3 - i)));
        i = tanca + 3;
      }
    } else {
      v.push_back(Car(s[i++]));
    }
  }
  v.push_back(kFinal);
  return v;
}

TEST(Escaner, CaractersIFinalRepetit) {
  int fd = FitxerAmb("a b");
  Escaner e;
  IniciaEscaner(e, fd);
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, 'a');
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, ' ');
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, 'b');
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(yylex(e), TOKEN_FINAL);
    EXPECT_EQ(e.token.caracter, 0);
    EXPECT_FALSE(e.token.te_cadena);
  }
  close(fd);
}

TEST(Escaner, EntradaBuida) {
  EXPECT_EQ(Escaneja(""), std::vector<Tok>{kFinal});
}

TEST(Escaner, FinalRepetitDespresDUnSuperblanc) {
  int fd = FitxerAmb("<![CDATA[xy]]>");
  Escaner e;
  IniciaEscaner(e, fd);
  ASSERT_EQ(yylex(e), TOKEN_SUPERBLANC);
  EXPECT_EQ(e.token.cadena, "<![CDATA[xy]]>");
  EXPECT_EQ(e.token.cadena.size(), 14u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(yylex(e), TOKEN_FINAL);
    EXPECT_FALSE(e.token.te_cadena);
  }
  close(fd);
}

TEST(Superblanc, Buit) {
  EXPECT_EQ(Escaneja("<![CDATA[]]>"),
            (std::vector<Tok>{Super("<![CDATA[]]>"), kFinal}));
  EXPECT_EQ(Escaneja("a<![CDATA[]]><![CDATA[]]>b"),
            (std::vector<Tok>{Car('a'), Super("<![CDATA[]]>"),
                              Super("<![CDATA[]]>"), Car('b'), kFinal}));
}

TEST(Superblanc, AmbSaltsDeLinia) {
  EXPECT_EQ(Escaneja("x<![CDATA[\n a\t\n\n]]>\ny"),
            (std::vector<Tok>{Car('x'), Super("<![CDATA[\n a\t\n\n]]>"),
                              Car('\n'), Car('y'), kFinal}));
}

TEST(Superblanc, ClaudatorsAbansDelTancament) {
  // n "]" before ">" close the block with n-2 of them as content.
  EXPECT_EQ(Escaneja("<![CDATA[a]]]>b"),
            (std::vector<Tok>{Super("<![CDATA[a]]]>"), Car('b'), kFinal}));
  EXPECT_EQ(Escaneja("<![CDATA[]]]]]>"),
            (std::vector<Tok>{Super("<![CDATA[]]]]]>"), kFinal}));
  // "]>" and a lone "]" are content.
  EXPECT_EQ(Escaneja("<![CDATA[]>]x]>>]]>"),
            (std::vector<Tok>{Super("<![CDATA[]>]x]>>]]>"), kFinal}));
}

TEST(Superblanc, ElTancamentNoPotCompartirElClaudatorDeLObridor) {
  // The "[" ending the opener does not start a closer: "<![CDATA[]>" is
  // still open.
  EXPECT_EQ(Escaneja("<![CDATA[]>z"),
            (std::vector<Tok>{Super("<![CDATA[]>z]]>"), kFinal}));
}

TEST(Superblanc, SenseNiuament) {
  EXPECT_EQ(Escaneja("<![CDATA[<![CDATA[a]]>]]>"),
            (std::vector<Tok>{Super("<![CDATA[<![CDATA[a]]>")} +
             Cars("]]>") + std::vector<Tok>{kFinal}));
}

TEST(Superblanc, TancamentForaDUnBlocSonCaracters) {
  EXPECT_EQ(Escaneja("]]>"), Cars("]]>") + std::vector<Tok>{kFinal});
}

TEST(Superblanc, FinalDinsDUnBlocElTanca) {
  EXPECT_EQ(Escaneja("a<![CDATA[b c"),
            (std::vector<Tok>{Car('a'), Super("<![CDATA[b c]]>"), kFinal}));
  EXPECT_EQ(Escaneja("<![CDATA["),
            (std::vector<Tok>{Super("<![CDATA[]]>"), kFinal}));
  // A closer cut short at the end is content.
  EXPECT_EQ(Escaneja("<![CDATA[x]]"),
            (std::vector<Tok>{Super("<![CDATA[x]]]]>"), kFinal}));
  EXPECT_EQ(Escaneja("<![CDATA[x]"),
            (std::vector<Tok>{Super("<![CDATA[x]]]>"), kFinal}));
}

TEST(Obridor, TallatDespresDeCadaByte) {
  for (size_t n = 1; n <= 8; ++n) {
    const std::string tros = kObridor.substr(0, n);
    // Followed by a byte that does not continue it.
    EXPECT_EQ(Escaneja(tros + "z"), Cars(tros + "z") + std::vector<Tok>{kFinal})
        << tros;
    // Followed by the end of the input.
    EXPECT_EQ(Escaneja(tros), Cars(tros) + std::vector<Tok>{kFinal}) << tros;
    // Followed by a whole block: the bytes after "<" are scanned afresh.
    EXPECT_EQ(Escaneja(tros + "<![CDATA[q]]>"),
              Cars(tros) + std::vector<Tok>({Super("<![CDATA[q]]>"), kFinal}))
        << tros;
    // Followed by a newline.
    EXPECT_EQ(Escaneja(tros + "\n"),
              Cars(tros + "\n") + std::vector<Tok>{kFinal})
        << tros;
  }
}

TEST(Obridor, AltresMajusculesSonText) {
  for (const std::string s : {"<![cdata[x]]>", "<![CData[x]]>", "<![CDATa[]]>",
                              "<!-[CDATA[x]]>", "< ![CDATA[x]]>"}) {
    EXPECT_EQ(Escaneja(s), Cars(s) + std::vector<Tok>{kFinal}) << s;
  }
}

TEST(Obridor, PartitEntreLecturesByteAByte) {
  // Each read returns one byte, so the opener and closer always straddle
  // reads.
  for (const std::string s :
       {"a<![CDATA[b]]>c", "<![CDATA[]]>", "<![CDAT<![CDATA[x]]]>",
        "<<![CDATA[\n]]>]]>", "<![CDATA[sense final"}) {
    EXPECT_EQ(EscanejaByteAByte(s), Model(s)) << s;
  }
}

TEST(Obridor, PartitEntreLecturesDUnTub) {
  // A pipe written one byte at a time, with pauses, so the scanner often
  // finds the buffer empty in the middle of an opener or a closer.
  const std::string s = "x<![CDATA[a]b]]>y<![CD<![CDATA[]]]>z";
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::thread escriptor([&] {
    for (char c : s) {
      EXPECT_EQ(write(p[1], &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    close(p[1]);
  });
  Escaner e;
  IniciaEscaner(e, p[0]);
  std::vector<Tok> v = Tokens(e);
  escriptor.join();
  close(p[0]);
  EXPECT_EQ(v, Model(s));
  EXPECT_GT(e.lectures, 4u) << "the pipe was read in several pieces";
}

TEST(Obridor, NoEsperaMesEntradaDeLaNecessaria) {
  // With "ab" in the pipe and the pipe still open, both characters come out
  // without waiting; "<!" needs more input before it can be decided.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(write(p[1], "ab<!", 4), 4);
  Escaner e;
  IniciaEscaner(e, p[0]);
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, 'a');
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, 'b');
  std::thread escriptor([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(write(p[1], "x", 1), 1);
    close(p[1]);
  });
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, '<');
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, '!');
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);
  EXPECT_EQ(e.token.caracter, 'x');
  EXPECT_EQ(yylex(e), TOKEN_FINAL);
  escriptor.join();
  close(p[0]);
}

TEST(BytesNuls, SonCaractersOrdinaris) {
  const std::string s("a\0b\0", 4);
  EXPECT_EQ(Escaneja(s), Cars(s) + std::vector<Tok>{kFinal});
}

TEST(BytesNuls, DinsDUnSuperblancEsConserven) {
  const std::string text("<![CDATA[a\0b\0\0]]>", 17);
  std::vector<Tok> v = Escaneja("x" + text + std::string("\0", 1));
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[1], Super(text));
  EXPECT_EQ(v[1].valor.size(), 17u);
  EXPECT_EQ(v[2], Car('\0'));
}

TEST(SuperblancGran, EsConservaSencer) {
  // Far past the 10000 bytes of a fixed buffer, with everything a block may
  // hold: newlines, NUL bytes, "]>", lone "]", a nested opener.
  std::string contingut;
  for (int i = 0; contingut.size() < 300000; ++i) {
    contingut += "linia " + std::to_string(i) + " ]> ] <![CDATA[ ";
    contingut += char(i % 256 == ']' ? 'x' : i % 256);
    contingut += '\n';
  }
  contingut += std::string(1, '\0');
  const std::string text = kObridor + contingut + "]]>";
  for (size_t bloc : {size_t(1) << 16, size_t(4096), size_t(17)}) {
    std::vector<Tok> v = Escaneja("a" + text + "b", bloc);
    ASSERT_EQ(v.size(), 4u) << bloc;
    EXPECT_EQ(v[1].tipus, TOKEN_SUPERBLANC);
    EXPECT_EQ(v[1].valor.size(), text.size()) << bloc;
    EXPECT_TRUE(v[1].valor == text) << bloc;
    EXPECT_EQ(v[2], Car('b'));
  }
}

TEST(SuperblancGran, ElSeguentSuperblancNoArrossegaElText) {
  const std::string gran = kObridor + std::string(2 << 20, 'g') + "]]>";
  EXPECT_EQ(Escaneja(gran + "<![CDATA[p]]>"),
            (std::vector<Tok>{Super(gran), Super("<![CDATA[p]]>"), kFinal}));
}

TEST(Model, EntradesGeneradesAmbDiversesMidesDeBloc) {
  // Inputs built from pieces that make openers, near-openers and closers
  // likely, compared with the rules for block sizes small and large.
  const std::vector<std::string> peces = {
      "<![CDATA[", "<![CDATA", "<![CD", "<!", "<", "]]>", "]]", "]", ">",
      "a", "\n", " ", std::string("\0", 1), "\xff", "<![cdata["};
  std::mt19937 gen(12345);
  for (int cas = 0; cas < 400; ++cas) {
    std::string s;
    int n = int(gen() % 30);
    for (int i = 0; i < n; ++i) s += peces[gen() % peces.size()];
    const std::vector<Tok> esperat = Model(s);
    for (size_t bloc : {size_t(1), size_t(18), size_t(19), size_t(23),
                        size_t(64), size_t(1) << 16}) {
      ASSERT_EQ(Escaneja(s, bloc), esperat) << "case " << cas << " block "
                                            << bloc;
    }
    if (cas % 20 == 0) {
      ASSERT_EQ(EscanejaByteAByte(s), esperat) << cas;
    }
  }
}

TEST(Lectura, BuidaLaSortidaAbansDeCadaLectura) {
  // What was written for the input consumed so far leaves the program
  // before the scanner reads again, and not at every token.
  int entrada[2], sortida[2];
  ASSERT_EQ(pipe(entrada), 0);
  ASSERT_EQ(pipe(sortida), 0);
  fcntl(sortida[0], F_SETFL, O_NONBLOCK);
  Sortida s;
  s.fd = sortida[1];
  Escaner e;
  IniciaEscaner(e, entrada[0]);
  e.abans_de_llegir = &s;
  auto Pendent = [&] {
    char b[64];
    ssize_t r = read(sortida[0], b, sizeof b);
    return r > 0 ? std::string(b, size_t(r)) : std::string();
  };

  ASSERT_EQ(write(entrada[1], "ab", 2), 2);
  Escriu(s, "abans");
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);  // reads: flushes first
  EXPECT_EQ(Pendent(), "abans");
  Escriu(s, "mig");
  EXPECT_EQ(yylex(e), TOKEN_CARACTER);  // 'b' is already in the buffer
  EXPECT_EQ(Pendent(), "");
  close(entrada[1]);
  EXPECT_EQ(yylex(e), TOKEN_FINAL);     // reads again
  EXPECT_EQ(Pendent(), "mig");
  close(entrada[0]);
  close(sortida[0]);
  close(sortida[1]);
}

TEST(LecturaDeathTest, ErrorDeLecturaAcabaAmbEstat2) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Reading a directory fails with EISDIR.
  EXPECT_EXIT(
      {
        int fd = open("/", O_RDONLY | O_DIRECTORY);
        Escaner e;
        IniciaEscaner(e, fd);
        yylex(e);
      },
      testing::ExitedWithCode(2), "^Error[^\n]*\n$");
}

}  // namespace
}  // namespace etiquem
