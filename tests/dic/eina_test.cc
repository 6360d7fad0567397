// The etiquem-dic command line: statuses, one-line messages, and files that
// are either written whole or not at all.

#include <gtest/gtest.h>

#include <dirent.h>

#include "dic/lexic.h"
#include "dic_prova.h"

namespace etiquem::dic {
namespace {

using prova::Cometes;
using prova::Executa;

const std::string kEina = ETIQUEM_DIC;
const std::string kShared = ETIQUEM_DIC_SHARED;

std::vector<std::string> Fitxers(const std::string& dir) {
  std::vector<std::string> noms;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') noms.push_back(e->d_name);
    closedir(d);
  }
  std::sort(noms.begin(), noms.end());
  return noms;
}

TEST(Eina, CompileWritesTheFileAndNothingElse) {
  const std::string d = prova::DirectoriNou("compila");
  const std::string lexic = "casa\tcasa<n><f><sg>\ncasa\tcasar<vblex>\n";
  prova::EscriuFitxer(d + "/l.dic", lexic);
  auto r = Executa(kEina + " compile " + Cometes(d + "/l.dic") + " -o " +
                   Cometes(d + "/l.bin"));
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(Fitxers(d), (std::vector<std::string>{"l.bin", "l.dic"}));
  AutomatDic a;
  std::string error;
  ASSERT_TRUE(CompilaLexic("l.dic", lexic, Codificacio::kDetecta, a, error));
  EXPECT_EQ(prova::LlegeixFitxer(d + "/l.bin"), Serialitza(a));
}

TEST(Eina, AFailedCompileLeavesNoFileAndKeepsTheOldOne) {
  const std::string d = prova::DirectoriNou("falla");
  prova::EscriuFitxer(d + "/l.dic", "casa\tcasa<n>\nbrossa\n");
  auto r = Executa(kEina + " compile " + Cometes(d + "/l.dic") + " -o " +
                   Cometes(d + "/l.bin"));
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.errors, "Error: " + d +
                          "/l.dic:2: expected "
                          "'surface<TAB>lexical[<TAB>kind]'\n");
  EXPECT_EQ(Fitxers(d), (std::vector<std::string>{"l.dic"}));
  prova::EscriuFitxer(d + "/l.bin", "old");
  r = Executa(kEina + " compile " + Cometes(d + "/l.dic") + " -o " +
              Cometes(d + "/l.bin"));
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(prova::LlegeixFitxer(d + "/l.bin"), "old");
  EXPECT_EQ(Fitxers(d), (std::vector<std::string>{"l.bin", "l.dic"}));
}

TEST(Eina, UnreadableSourceAndUnwritableTarget) {
  const std::string d = prova::DirectoriNou("camins");
  auto r = Executa(kEina + " compile " + Cometes(d + "/no.dic") + " -o " +
                   Cometes(d + "/x.bin"));
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.errors, "Error: cannot open " + d +
                          "/no.dic: No such file or directory\n");
  prova::EscriuFitxer(d + "/l.dic", "a\ta<n>\n");
  r = Executa(kEina + " compile " + Cometes(d + "/l.dic") + " -o " +
              Cometes(d + "/no/x.bin"));
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.errors.rfind("Error: cannot create a file beside " + d +
                               "/no/x.bin: ",
                           0),
            0u)
      << r.errors;
}

TEST(Eina, UsageErrorsExitWithStatus2) {
  for (const char* args : {"", "compile", "compile a.dic", "frob x",
                           "compile a.dic -o", "compile a.dic -o x --bad",
                           "dump"}) {
    auto r = Executa(kEina + " " + args);
    EXPECT_EQ(r.estat, 2) << args;
    EXPECT_EQ(r.errors.rfind("Error: ", 0), 0u) << args;
    EXPECT_NE(r.errors.find("Usage: etiquem-dic"), std::string::npos);
  }
  EXPECT_EQ(Executa(kEina + " -h").estat, 0);
}

TEST(Eina, AttSourcesByExtensionOrOption) {
  const std::string d = prova::DirectoriNou("att");
  prova::EscriuFitxer(d + "/t.att", "0\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
  auto r = Executa(kEina + " compile " + Cometes(d + "/t.att") + " -o " +
                   Cometes(d + "/t.bin") + " && " + kEina + " dump " +
                   Cometes(d + "/t.bin"));
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.sortida, "0\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
  prova::EscriuFitxer(d + "/t.txt", "0\t1\ta\ta\n1\n");
  r = Executa(kEina + " compile --att " + Cometes(d + "/t.txt") + " -o " +
              Cometes(d + "/u.bin") + " && " + kEina + " dump " +
              Cometes(d + "/u.bin"));
  EXPECT_EQ(r.sortida, "0\t1\ta\ta\n1\n");
}

TEST(Eina, DumpAndInfoOfABrokenFile) {
  const std::string d = prova::DirectoriNou("trencat");
  prova::EscriuFitxer(d + "/t.bin", std::string("\x05\0\0\0ab", 6));
  auto r = Executa(kEina + " dump " + Cometes(d + "/t.bin"));
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u);
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << "one line";
  r = Executa(kEina + " info " + Cometes(d + "/cap.bin"));
  EXPECT_EQ(r.estat, 1);
}

TEST(Eina, InfoOfTheSharedCatalanFile) {
  const std::string bin = kShared + "/lexicon/ca.bin";
  if (!prova::Existeix(bin)) GTEST_SKIP() << bin << " is absent";
  auto r = Executa(kEina + " info " + Cometes(bin));
  ASSERT_EQ(r.estat, 0) << r.errors;
  for (const char* linia :
       {"file bytes: 2722990\n", "states: 54755\n", "character groups: 158598\n",
        "consuming moves: 173885\n", "epsilon moves: 12412\n",
        "states with epsilon moves: 10530\n", "complete-analysis markers: 1\n",
        "defines: 54, codes 258-311\n"})
    EXPECT_NE(r.sortida.find(linia), std::string::npos) << linia;
}

}  // namespace
}  // namespace etiquem::dic
