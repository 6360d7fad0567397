// Whole runs of the built etiquem: the command line, the files it opens, the
// messages and exit statuses users see, and write failures on its outputs.
//
// Every expectation is on exact bytes. Messages are Latin-1, so accented
// letters are written as \x escapes.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automat_prova.h"
#include "proces.h"

namespace etiquem {
namespace {

using prova::Executa;
using prova::OpcionsExecucio;
using prova::Resultat;

const std::string kBin = ETIQUEM_BIN;

const char kUs[] =
    "Forma de uso: etiquem [OPCIONES] [FICHEROS]\n"
    "  -f: Analiza el contenido de un fichero ASCII\n"
    "      Necesita el nombre del fichero a analizar\n"
    "  -s: Muestra la forma superficial\n"
    "  -m: Marca las palabras desconocidas\n"
    "  -d: Genera un fichero con las palabras desconocidas para el analizador\n"
    "      morfol\xf3gico. Necesita el nombre del fichero\n"
    "  -a: Genera un espacio en blanco despu\xe9s de una forma apostrofada\n"
    "  -b: Lee el aut\xf3mata del fichero binario que se le pasa como "
    "par\xe1metro\n"
    "  sin opciones: Analiza la entrada est\xe1ndar y lee el fichero binario "
    "por defecto\n"
    "  -h: Imprime esta ayuda\n";

const char kUtilice[] =
    "Utilice 'etiquem -h' para obtener m\xe1s informaci\xf3n\n";

// "a" reads as a followed by the symbol n; "xx..." is an unknown word.
const char kDiccionari[] = R"(
alfabet abx
define n 258
estat 0
  a a 1
  x x 3
estat 1
  eps &n 2
estat 2
  fi
estat 3
  descon
  x x 3
)";

std::string Diccionari() {
  static const std::string cami =
      prova::EscriuFitxer(prova::Bytes(kDiccionari), "opcions.bin");
  return cami;
}

// A fresh empty directory for runs that need their own working directory.
std::string DirectoriNou() {
  std::string plantilla = testing::TempDir() + "etiquem-opcions-XXXXXX";
  std::vector<char> b(plantilla.begin(), plantilla.end());
  b.push_back('\0');
  if (mkdtemp(b.data()) == nullptr) ADD_FAILURE() << "mkdtemp";
  return b.data();
}

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Escriu(const std::string& cami, const std::string& bytes) {
  std::ofstream f(cami, std::ios::binary);
  f << bytes;
}

// The program that getopt names in its complaints is argv[0].
std::string Queixa(const std::string& que) { return kBin + ": " + que + "\n"; }

TEST(Ajuda, EscriuElTextDUsAmbEstat0) {
  Resultat r = Executa({kBin, "-h"});
  EXPECT_EQ(r.sortida, kUs);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
}

TEST(Ajuda, GuanyaSobreUnFitxerDEntradaQueNoExisteix) {
  // Nothing is opened before the options are all read.
  Resultat r = Executa({kBin, "-f", "/no/existeix/entrada.txt", "-h"});
  EXPECT_EQ(r.sortida, kUs);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
}

TEST(Ajuda, DespresDOpcionsValidesIAgrupada) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {kBin, "-s", "-m", "-h"},
           {kBin, "-smh"},
           {kBin, "-b", "/no/existeix.bin", "-h", "-x"}}) {
    Resultat r = Executa(args);
    EXPECT_EQ(r.sortida, kUs) << args[1];
    EXPECT_EQ(r.errors, "") << args[1];
    EXPECT_EQ(r.estat, 0) << args[1];
  }
}

TEST(OpcioDolenta, LletraDesconeguda) {
  Resultat r = Executa({kBin, "-x"});
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors, Queixa("invalid option -- 'x'") + kUtilice);
  EXPECT_EQ(r.estat, 1);
}

TEST(OpcioDolenta, AbansDeLAjudaAcabaAmbElSeuMissatge) {
  Resultat r = Executa({kBin, "-q", "-h"});
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors, Queixa("invalid option -- 'q'") + kUtilice);
  EXPECT_EQ(r.estat, 1);
}

TEST(OpcioDolenta, FSenseArgument) {
  Resultat r = Executa({kBin, "-s", "-f"});
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors, Queixa("option requires an argument -- 'f'") + kUtilice);
  EXPECT_EQ(r.estat, 1);
}

TEST(OpcioDolenta, BIDSenseArgument) {
  for (const char* o : {"-b", "-d"}) {
    Resultat r = Executa({kBin, o});
    EXPECT_EQ(r.sortida, "");
    EXPECT_EQ(r.errors, Queixa(std::string("option requires an argument -- '") +
                               o[1] + "'") +
                            kUtilice);
    EXPECT_EQ(r.estat, 1);
  }
}

TEST(ParaulesSoltes, UnaParaula) {
  Resultat r = Executa({kBin, "fitxer.txt"});
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors, "Hay opciones no v\xe1lidas en la entrada: fitxer.txt \n");
  EXPECT_EQ(r.estat, 1);
}

TEST(ParaulesSoltes, AbansIDespresDOpcions) {
  // getopt moves the words behind the options: -s and -b are still taken,
  // and the words are listed in their order, each followed by one blank.
  Resultat r = Executa({kBin, "u", "-s", "dos", "-b", Diccionari(), "tres"});
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Hay opciones no v\xe1lidas en la entrada: u dos tres \n");
  EXPECT_EQ(r.estat, 1);
}

TEST(ParaulesSoltes, NoEsCarregaLAutomat) {
  // The word ends the run before the automaton file is looked at.
  Resultat r = Executa({kBin, "-b", "/no/existeix.bin", "sobrant"});
  EXPECT_EQ(r.errors, "Hay opciones no v\xe1lidas en la entrada: sobrant \n");
  EXPECT_EQ(r.estat, 1);
}

TEST(ParaulesSoltes, OpcioDolentaDespresDUnaParaula) {
  // Options after a word are still parsed, so the bad letter is met first.
  Resultat r = Executa({kBin, "paraula", "-z"});
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors, Queixa("invalid option -- 'z'") + kUtilice);
  EXPECT_EQ(r.estat, 1);
}

TEST(Execucio, AnalitzaLEntradaEstandard) {
  Resultat r = Executa({kBin, "-b", Diccionari()}, "a b\n");
  EXPECT_EQ(r.sortida, "a&n;/ b\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
}

TEST(Execucio, OpcioAmbElNomEnganxat) {
  Resultat r = Executa({kBin, "-sb" + Diccionari()}, "a\n");
  EXPECT_EQ(r.sortida, "a/a&n;/\n");
  EXPECT_EQ(r.estat, 0);
}

TEST(Execucio, SRepetidaEsComUna) {
  Resultat una = Executa({kBin, "-s", "-b", Diccionari()}, "a b a\n");
  Resultat dues = Executa({kBin, "-s", "-b", Diccionari(), "-s"}, "a b a\n");
  EXPECT_EQ(una.sortida, "a/a&n;/ b a/a&n;/\n");
  EXPECT_EQ(dues.sortida, una.sortida);
  EXPECT_EQ(dues.errors, "");
  EXPECT_EQ(dues.estat, 0);
}

TEST(Execucio, BRepetidaCarregaLaDarrera) {
  Resultat r = Executa({kBin, "-b", "/no/existeix.bin", "-b", Diccionari()},
                       "a\n");
  EXPECT_EQ(r.sortida, "a&n;/\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);

  r = Executa({kBin, "-b", Diccionari(), "-b", "/no/existeix.bin"}, "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario /no/existeix.bin no existe o no se "
            "puedo abrir\n");
  EXPECT_EQ(r.estat, 255);
}

TEST(Automat, FitxerQueNoExisteix) {
  Resultat r = Executa({kBin, "-b", "/no/existeix/automat.bin"}, "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario /no/existeix/automat.bin no existe o "
            "no se puedo abrir\n");
  EXPECT_EQ(r.estat, 255);
}

TEST(Automat, PerDefecteEsBinariAutomorfDelDirectoriDeTreball) {
  std::string dir = DirectoriNou();
  OpcionsExecucio op;
  op.directori = dir;
  Resultat r = Executa({kBin}, "a\n", op);
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario binari/automorf.bin no existe o no se "
            "puedo abrir\n");
  EXPECT_EQ(r.estat, 255);

  ASSERT_EQ(mkdir((dir + "/binari").c_str(), 0700), 0);
  Escriu(dir + "/binari/automorf.bin", prova::Bytes(kDiccionari));
  r = Executa({kBin}, "b a\n", op);
  EXPECT_EQ(r.sortida, "b a&n;/\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
}

TEST(Automat, FitxerTrencat) {
  // A file that ends inside the state count.
  std::string cami = prova::EscriuFitxer(
      prova::Bytes(kDiccionari).substr(0, 27), "opcions-curt.bin");
  Resultat r = Executa({kBin, "-b", cami}, "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors.rfind("Error: El fichero binario " + cami +
                               " no es v\xe1lido: ",
                           0),
            0u)
      << r.errors;
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << "one line";
  EXPECT_EQ(r.estat, 255);
}

TEST(FitxerEntrada, FLLegeixElFitxerIIgnoraLEntradaEstandard) {
  std::string cami = testing::TempDir() + "etiquem-opcions-entrada.txt";
  Escriu(cami, "b a\nbb\n");
  Resultat r = Executa({kBin, "-f", cami, "-b", Diccionari()}, "a a a\n");
  EXPECT_EQ(r.sortida, "b a&n;/\nbb\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
}

TEST(FitxerEntrada, QueNoExisteixNoCarregaLAutomat) {
  // The automaton file is missing as well: only the input is reported.
  Resultat r = Executa({kBin, "-b", "/no/existeix.bin", "-f", "/no/entrada"},
                       "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero /no/entrada no existe o no se pudo abrir\n");
  EXPECT_EQ(r.estat, 1);
}

TEST(FitxerEntrada, ErrorDeLecturaAcabaAmbEstat2) {
  // A directory opens for reading, but reading it fails.
  Resultat r = Executa({kBin, "-f", "/", "-b", Diccionari()}, "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u) << r.errors;
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << r.errors;
  EXPECT_EQ(r.estat, 2);
}

TEST(FitxerDesconegudes, RutaQueNoEsPotObrir) {
  Resultat r = Executa(
      {kBin, "-b", Diccionari(), "-d", "/no/existeix/desconegudes.txt"},
      "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Error: El fitxer de les paraules desconegudes no ha pogut "
            "obrir-se\n");
  EXPECT_EQ(r.estat, 1);
}

TEST(FitxerDesconegudes, LAutomatEsCarregaAbans) {
  Resultat r = Executa(
      {kBin, "-d", "/no/existeix/desconegudes.txt", "-b", "/no/automat.bin"},
      "a\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario /no/automat.bin no existe o no se "
            "puedo abrir\n");
  EXPECT_EQ(r.estat, 255);
}

TEST(FitxerDesconegudes, ConservaLesLiniesQueJaTenia) {
  std::string cami = testing::TempDir() + "etiquem-opcions-desc.txt";
  Escriu(cami, "primera\nsegona\n");
  Resultat r = Executa({kBin, "-b", Diccionari(), "-d", cami}, "xx a xxx\n");
  EXPECT_EQ(r.sortida, "xx a&n;/ xxx\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
  EXPECT_EQ(Llegeix(cami), "primera\nsegona\nxx\nxxx\n");
}

TEST(FitxerDesconegudes, EsCreaSiNoExisteix) {
  std::string cami = DirectoriNou() + "/noves.txt";
  Resultat r = Executa({kBin, "-b", Diccionari(), "-d", cami}, "xxx\n");
  EXPECT_EQ(r.estat, 0);
  EXPECT_EQ(Llegeix(cami), "xxx\n");
}

// A failed write: one line beginning "Error" on standard error, status 1.
void EsperaErrorDEscriptura(const Resultat& r) {
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.senyal, 0);
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u) << r.errors;
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << r.errors;
}

TEST(ErrorDEscriptura, SortidaEstandardTancada) {
  OpcionsExecucio op;
  op.sortida = prova::Sortida::kTancada;
  EsperaErrorDEscriptura(Executa({kBin, "-b", Diccionari()}, "a b\n", op));
}

TEST(ErrorDEscriptura, DiscPle) {
  OpcionsExecucio op;
  op.sortida = prova::Sortida::kPle;
  EsperaErrorDEscriptura(Executa({kBin, "-b", Diccionari()}, "a b\n", op));
  // Also when the output is large enough to be written before the end.
  EsperaErrorDEscriptura(
      Executa({kBin, "-b", Diccionari()}, std::string(3 << 20, 'b'), op));
}

TEST(ErrorDEscriptura, AjudaSobreUnDiscPle) {
  OpcionsExecucio op;
  op.sortida = prova::Sortida::kPle;
  EsperaErrorDEscriptura(Executa({kBin, "-h"}, "", op));
}

TEST(ErrorDEscriptura, FitxerDeDesconegudesSobreUnDiscPle) {
  Resultat r = Executa({kBin, "-b", Diccionari(), "-d", "/dev/full"}, "xx\n");
  EsperaErrorDEscriptura(r);
  EXPECT_EQ(r.sortida, "xx\n");
}

TEST(ErrorDEscriptura, SenseSortidaNoHiHaError) {
  // An empty input writes nothing, so a closed output is no failure.
  OpcionsExecucio op;
  op.sortida = prova::Sortida::kTancada;
  Resultat r = Executa({kBin, "-b", Diccionari()}, "", op);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.estat, 0);
}

// The helper itself: binary data both ways, a large input against a program
// that writes as it reads, and the time limit.
TEST(Proces, DadesBinariesITempsLimit) {
  std::string dades;
  for (int i = 0; i < (1 << 20); ++i) dades += char(i * 7 % 256);
  Resultat r = Executa({"/bin/cat"}, dades);
  EXPECT_TRUE(r.sortida == dades);
  EXPECT_EQ(r.estat, 0);
  r = Executa({"/bin/sh", "-c", "printf 'a\\000b' >&2; exit 3"});
  EXPECT_EQ(r.errors, std::string("a\0b", 3));
  EXPECT_EQ(r.estat, 3);
  OpcionsExecucio op;
  op.segons = 1;
  r = Executa({"/bin/sleep", "10"}, "", op);
  EXPECT_TRUE(r.temps_esgotat);
  EXPECT_EQ(r.senyal, SIGKILL);
}

}  // namespace
}  // namespace etiquem
