#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "app/core/numbers.h"
#include "app/core/options.h"

namespace {

CommandLineOptions Parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"Orvane.exe");
  CommandLineOptions options;
  ParseArguments(args, &options);
  return options;
}

TEST(Options, DefaultsWhenNothingIsGiven) {
  CommandLineOptions o = Parse({});
  EXPECT_EQ(o.estado, L"esperando");
  EXPECT_EQ(o.escala, 1.0f);
  EXPECT_EQ(o.foco, L"cara");
  EXPECT_FLOAT_EQ(o.focoValor, 0.42f);
  EXPECT_EQ(o.caras, 1);
  EXPECT_FLOAT_EQ(o.fondo, 0.6f);
  EXPECT_EQ(o.puerto, 47800);
  EXPECT_EQ(o.salirTras, 0);
  EXPECT_FALSE(o.prueba || o.oculta || o.menu || o.mas || o.sinFoco || o.espejo);
  EXPECT_TRUE(o.captura.empty() && o.registro.empty() && o.codigo.empty() && o.hover.empty());
}

TEST(Options, EveryOptionReachesItsField) {
  CommandLineOptions o = Parse({L"--captura", L"a.png", L"--estado", L"pausa", L"--escala", L"2",
                                L"--cuadro", L"c.png", L"--registro", L"r.log", L"--guardar-cuadro", L"g.png",
                                L"--captura-en-vivo", L"v.png", L"--codigo", L"123456", L"--salir-tras", L"7",
                                L"--oculta", L"--prueba", L"--calidad", L"4K@30", L"--pedido", L"720p@60",
                                L"--hover", L"12", L"--menu", L"--mas", L"--foco", L"manual", L"--foco-valor",
                                L"0.25", L"--caras", L"3", L"--fondo", L"0.5", L"--sin-foco", L"--puerto",
                                L"47805", L"--espejo"});
  EXPECT_EQ(o.captura, L"a.png");
  EXPECT_EQ(o.estado, L"pausa");
  EXPECT_EQ(o.escala, 2.0f);
  EXPECT_EQ(o.cuadro, L"c.png");
  EXPECT_EQ(o.registro, L"r.log");
  EXPECT_EQ(o.guardarCuadro, L"g.png");
  EXPECT_EQ(o.capturaEnVivo, L"v.png");
  EXPECT_EQ(o.codigo, L"123456");
  EXPECT_EQ(o.salirTras, 7);
  EXPECT_EQ(o.calidad, L"4K@30");
  EXPECT_EQ(o.pedido, L"720p@60");
  EXPECT_EQ(o.hover, L"12");
  EXPECT_EQ(o.foco, L"manual");
  EXPECT_FLOAT_EQ(o.focoValor, 0.25f);
  EXPECT_EQ(o.caras, 3);
  EXPECT_FLOAT_EQ(o.fondo, 0.5f);
  EXPECT_EQ(o.puerto, 47805);
  EXPECT_TRUE(o.oculta && o.prueba && o.menu && o.mas && o.sinFoco && o.espejo);
}

TEST(Options, ValueIsTheNextArgumentWhateverItLooksLike) {
  CommandLineOptions o = Parse({L"--registro", L"--prueba"});
  EXPECT_EQ(o.registro, L"--prueba");
  EXPECT_FALSE(o.prueba);
}

TEST(Options, MissingValueAtTheEndIsEmpty) {
  CommandLineOptions o = Parse({L"--codigo"});
  EXPECT_TRUE(o.codigo.empty());
  EXPECT_EQ(Parse({L"--puerto"}).puerto, 0);
}

TEST(Options, MatchingIsExactAndCaseSensitive) {
  CommandLineOptions o = Parse({L"--Prueba", L"--prueba=1", L"-prueba", L"--pruebas", L"x"});
  EXPECT_FALSE(o.prueba);
}

TEST(Options, UnknownArgumentsAreSkippedAndTheLastValueWins) {
  CommandLineOptions o = Parse({L"--nada", L"--puerto", L"47801", L"suelto", L"--puerto", L"47803"});
  EXPECT_EQ(o.puerto, 47803);
}

TEST(Options, ProgramNameIsNeverAnOption) {
  CommandLineOptions o;
  ParseArguments({L"--prueba"}, &o);
  EXPECT_FALSE(o.prueba);
}

TEST(Options, ScaleThatIsNotPositiveBecomesOne) {
  for (const wchar_t* bad : {L"0", L"-2", L"abc", L"", L"nan", L"-0"}) {
    EXPECT_EQ(Parse({L"--escala", bad}).escala, 1.0f) << bad;
  }
  EXPECT_FLOAT_EQ(Parse({L"--escala", L"1.5x"}).escala, 1.5f);
}

TEST(Options, NumbersReadLikeAtofAndAtoi) {
  EXPECT_EQ(Parse({L"--salir-tras", L"  12abc"}).salirTras, 12);
  EXPECT_EQ(Parse({L"--salir-tras", L"-3"}).salirTras, -3);
  EXPECT_EQ(Parse({L"--salir-tras", L"3.9"}).salirTras, 3);
  EXPECT_EQ(Parse({L"--caras", L"x1"}).caras, 0);
  EXPECT_FLOAT_EQ(Parse({L"--fondo", L"+.75"}).fondo, 0.75f);
  EXPECT_FLOAT_EQ(Parse({L"--foco-valor", L"1e-1"}).focoValor, 0.1f);
  EXPECT_FLOAT_EQ(Parse({L"--fondo", L"0,5"}).fondo, 0.0f);
}

TEST(Numbers, LeadingDoubleEdges) {
  EXPECT_EQ(LeadingDouble(std::string_view("")), 0.0);
  EXPECT_EQ(LeadingDouble(std::string_view("-")), 0.0);
  EXPECT_EQ(LeadingDouble(std::string_view("+-1")), 0.0);
  EXPECT_EQ(LeadingDouble(std::string_view("\t-2.5e1z")), -25.0);
  EXPECT_EQ(LeadingDouble(std::string_view("1e999")), HUGE_VAL);
  EXPECT_EQ(LeadingDouble(std::string_view("1e-999")), 0.0);
  EXPECT_EQ(LeadingDouble(std::wstring_view(L"3\u00e9")), 3.0);
}

TEST(Numbers, LeadingIntSaturates) {
  EXPECT_EQ(LeadingInt(L"99999999999999999999"), INT_MAX);
  EXPECT_EQ(LeadingInt(L"-99999999999999999999"), INT_MIN);
  EXPECT_EQ(LeadingInt(L"-2147483648"), INT_MIN);
  EXPECT_EQ(LeadingInt(L"+"), 0);
}

}  // namespace
