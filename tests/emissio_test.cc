// Tests of longest-match selection and emission on a ring filled by hand:
// which position an attempt writes, wherever it lies in the ring, and what
// writing a position puts on the output, the unknown-words file and the
// waiting superblanks.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "automat_prova.h"
#include "automaton/automat.h"
#include "input/lector.h"
#include "matching/accepta.h"
#include "matching/vius.h"
#include "output/emissio.h"
#include "output/sortida.h"

namespace etiquem {
namespace {

class Emissio : public testing::Test {
 protected:
  void SetUp() override {
    l_ = std::make_unique<Lector>();
    IniciaLector(*l_, nullptr);
    // Nothing is written out: the tests read what gathered in the buffers.
    sortida_.fd = -1;
    sortida_.llindar = size_t(1) << 30;
    desc_.fd = -1;
    desc_.llindar = size_t(1) << 30;
    Inicio(t_);
    const std::string bytes = prova::Bytes("alfabet a\nestat 0\n");
    std::string error;
    ASSERT_TRUE(GenautoDeMemoria(
        t_, "prova", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error));
    IniciaVius(v_, &t_);
    Inicialitzacio(v_);
    IniciaAcceptacio(ac_);
  }

  // A record of the complete analysis `sortida` (one symbol per byte) over
  // the first `llarg` characters of the attempt's surface.
  RegTraduc Lectura(const std::string& sortida, int llarg) {
    uint32_t node = 0;
    for (char c : sortida) {
      v_.nodes.push_back(
          NodeSortida{node, uint8_t(c), v_.nodes[node].longitud + 1});
      node = uint32_t(v_.nodes.size() - 1);
    }
    RegTraduc r;
    r.hi_es = true;
    r.llarg_forma = uint16_t(llarg);
    r.primer = uint32_t(ac_.llista.size());
    r.nombre = 1;
    ac_.llista.push_back(Acceptat{node, FIN_TRADUC});
    return r;
  }
  RegTraduc Desconeguda(int llarg, int marca) {
    RegTraduc r;
    r.hi_es = true;
    r.opcio = uint8_t(marca);
    r.llarg_forma = uint16_t(llarg);
    return r;
  }
  void Emet(int superficie, int p, int opcio_desc, bool amb_fitxer = true) {
    const Lectures lec{&v_, &ac_, superficie_.data()};
    Emitir(*l_, lec, sortida_, amb_fitxer ? &desc_ : nullptr, superficie, p,
           opcio_desc);
  }

  PosBuffer& Pos(int p) { return l_->buffer[p - 1]; }

  void Car(int p, char c, uint64_t ordre = 0) {
    Pos(p).tipus = CARACTER;
    Pos(p).car = uint8_t(c);
    Pos(p).ordre = ordre;
  }
  // Marks a position as holding a record, for the choice of the stretch.
  void Anal(int p, const char* = "") { Pos(p).anal.hi_es = true; }
  void Desc(int p, const char* = "") { Pos(p).desc.hi_es = true; }

  std::unique_ptr<Lector> l_;
  Sortida sortida_;
  Sortida desc_;
  Transductor t_;
  Vius v_;
  Acceptacio ac_;
  std::string superficie_;
};

TEST_F(Emissio, AnalNomesALaPrimeraPosicio) {
  Anal(1, "A");
  EXPECT_EQ(BuscaAccep(*l_, 0, 3), 1);
}

TEST_F(Emissio, SenseRegistresLaPrimeraPosicio) {
  EXPECT_EQ(BuscaAccep(*l_, 0, 5), 1);
  EXPECT_EQ(BuscaAccep(*l_, 99, 1), 100);
}

TEST_F(Emissio, DescDespresDeLaPrimeraGuanyaAnalALaPrimera) {
  Anal(1, "A");
  Desc(3, "D");
  EXPECT_EQ(BuscaAccep(*l_, 0, 4), 3);
}

TEST_F(Emissio, AnalAbansQueDescMesLlunya) {
  // Attempt at positions 10 to 20.
  Anal(11, "A");
  Desc(14, "D");
  EXPECT_EQ(BuscaAccep(*l_, 9, 11), 11);
  Anal(18, "B");
  EXPECT_EQ(BuscaAccep(*l_, 9, 11), 18);
  Desc(20, "E");
  Anal(20, "C");
  EXPECT_EQ(BuscaAccep(*l_, 9, 11), 20);
}

TEST_F(Emissio, IntentQueDonaLaVoltaAlRing) {
  // Positions 254, 255, 256, 1, 2: judged like any other attempt.
  Anal(255, "A");
  Desc(2, "D");
  EXPECT_EQ(BuscaAccep(*l_, 253, 5), 255);
  Anal(1, "B");
  EXPECT_EQ(BuscaAccep(*l_, 253, 5), 1);
  Pos(255).anal.hi_es = false;
  Pos(1).anal.hi_es = false;
  EXPECT_EQ(BuscaAccep(*l_, 253, 5), 2);
  Desc(256, "E");
  EXPECT_EQ(BuscaAccep(*l_, 253, 4), 256);
  EXPECT_EQ(BuscaAccep(*l_, 253, 3), 256);
  EXPECT_EQ(BuscaAccep(*l_, 253, 2), 254);
}

TEST_F(Emissio, AttemptDe254Caracters) {
  // From 200 round to 197; the position before the first is not looked at.
  Anal(199, "antic");
  Desc(197, "D");
  EXPECT_EQ(BuscaAccep(*l_, 199, 254), 197);
  Anal(100, "A");
  EXPECT_EQ(BuscaAccep(*l_, 199, 254), 100);
}

TEST_F(Emissio, NomesComptenLesPosicionsTrepitjades) {
  // Records after the last stepped position or before the first belong to
  // no part of this attempt.
  Anal(4, "A");
  Desc(5, "D");
  Anal(256, "B");
  EXPECT_EQ(BuscaAccep(*l_, 0, 3), 1);
  Desc(2, "E");
  EXPECT_EQ(BuscaAccep(*l_, 0, 3), 2);
}

TEST_F(Emissio, QueEscriuUnaPosicio) {
  superficie_ = "casaxyz";
  Car(1, 'x');
  Pos(1).anal = Lectura("casa&", 4);
  Pos(1).desc = Desconeguda(4, 1);
  Emet(0, 1, 1);
  EXPECT_EQ(sortida_.buf, "casa&/");
  EXPECT_EQ(desc_.buf, "");  // an analysis is no unknown word
  Emet(1, 1, 1);
  EXPECT_EQ(sortida_.buf, "casa&/casa/casa&/");

  sortida_.buf.clear();
  superficie_ = "xyzw";
  Car(2, 'y');
  Pos(2).desc = Desconeguda(3, 1);
  Emet(0, 2, 1);
  Emet(1, 2, 1);
  Emet(1, 2, 0);
  Pos(2).desc.opcio = 0;
  Emet(1, 2, 1);
  EXPECT_EQ(sortida_.buf, "<d>xyz</d>xyz/<d>xyz</d>xyz/<d>xyz</d>xyz/xyz");
  EXPECT_EQ(desc_.buf, "xyz\nxyz\nxyz\n");
  Emet(0, 2, 1, false);  // no file open: nothing more

  sortida_.buf.clear();
  for (int c : {int('z'), 0, 1, 255}) {
    Car(3, char(c));
    Emet(1, 3, 1);
  }
  EXPECT_EQ(sortida_.buf, std::string("z\0\x01\xff", 4));
  EXPECT_EQ(desc_.buf, "xyz\nxyz\nxyz\n");
}

TEST_F(Emissio, PosicionsBuidesIFinalNoEscriuenRes) {
  Pos(5).tipus = FINAL;
  Pos(5).car = 255;
  Emet(1, 5, 1);
  Emet(1, 6, 1);
  EXPECT_EQ(sortida_.buf, "");
}

TEST_F(Emissio, SuperblancsDespresDelTramQueCobreixLaMarca) {
  Car(1, 'a', 1);
  Pos(2).tipus = SUPERBLANC;
  Pos(2).car = 1;
  Pos(2).ordre = 2;
  Car(3, 'b', 3);
  Pos(4).tipus = SUPERBLANC;
  Pos(4).car = 1;
  Pos(4).ordre = 4;
  Car(5, 'c', 5);
  l_->superblancs.push_back({"<![CDATA[1]]>", 2});
  l_->superblancs.push_back({"<![CDATA[2]]>", 4});
  // A stretch before both markers writes none.
  Emet(0, 1, 0);
  EXPECT_EQ(sortida_.buf, "a");
  // A marker written alone writes its superblank.
  Emet(0, 2, 0);
  EXPECT_EQ(sortida_.buf, "a<![CDATA[1]]>");
  ASSERT_EQ(l_->superblancs.size(), 1u);
  // A stretch reaching past the second marker writes it after the stretch.
  superficie_ = "b c";
  Pos(5).anal = Lectura("BC", 3);
  Emet(0, 5, 0);
  EXPECT_EQ(sortida_.buf, "a<![CDATA[1]]>BC/<![CDATA[2]]>");
  EXPECT_TRUE(l_->superblancs.empty());
}

TEST_F(Emissio, DosSuperblancsDUnTramEnOrdre) {
  superficie_ = "x";
  Pos(7).anal = Lectura("X", 1);
  Pos(7).ordre = 300;
  l_->superblancs.push_back({"<![CDATA[1]]>", 298});
  l_->superblancs.push_back({"<![CDATA[2]]>", 299});
  l_->superblancs.push_back({"<![CDATA[3]]>", 301});
  Emet(0, 7, 0);
  EXPECT_EQ(sortida_.buf, "X/<![CDATA[1]]><![CDATA[2]]>");
  ASSERT_EQ(l_->superblancs.size(), 1u);
  EXPECT_EQ(l_->superblancs.front().text, "<![CDATA[3]]>");
}

}  // namespace
}  // namespace etiquem
