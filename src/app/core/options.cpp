#include "options.h"

#include "numbers.h"

CommandLineOptions g_options;

namespace {

// Exactly one member pointer is set: it says both where the value goes and
// how the argument is read.
struct OptionRule {
  const wchar_t* name;
  std::wstring CommandLineOptions::*text = nullptr;
  float CommandLineOptions::*real = nullptr;
  int CommandLineOptions::*integer = nullptr;
  bool CommandLineOptions::*flag = nullptr;
};

using O = CommandLineOptions;
const OptionRule kRules[] = {
    {.name = L"--captura", .text = &O::captura},
    {.name = L"--estado", .text = &O::estado},
    {.name = L"--escala", .real = &O::escala},
    {.name = L"--cuadro", .text = &O::cuadro},
    {.name = L"--registro", .text = &O::registro},
    {.name = L"--guardar-cuadro", .text = &O::guardarCuadro},
    {.name = L"--captura-en-vivo", .text = &O::capturaEnVivo},
    {.name = L"--codigo", .text = &O::codigo},
    {.name = L"--salir-tras", .integer = &O::salirTras},
    {.name = L"--oculta", .flag = &O::oculta},
    {.name = L"--prueba", .flag = &O::prueba},
    {.name = L"--calidad", .text = &O::calidad},
    {.name = L"--pedido", .text = &O::pedido},
    {.name = L"--hover", .text = &O::hover},
    {.name = L"--menu", .flag = &O::menu},
    {.name = L"--mas", .flag = &O::mas},
    {.name = L"--foco", .text = &O::foco},
    {.name = L"--foco-valor", .real = &O::focoValor},
    {.name = L"--caras", .integer = &O::caras},
    {.name = L"--fondo", .real = &O::fondo},
    {.name = L"--sin-foco", .flag = &O::sinFoco},
    {.name = L"--puerto", .integer = &O::puerto},
    {.name = L"--espejo", .flag = &O::espejo},
    {.name = L"--simular-falla", .text = &O::simularFalla},
    {.name = L"--simular-red", .text = &O::simularRed},
    {.name = L"--aviso", .text = &O::aviso},
};

}  // namespace

void ParseArguments(const std::vector<std::wstring>& args, CommandLineOptions* options) {
  for (size_t i = 1; i < args.size(); ++i) {
    const OptionRule* rule = nullptr;
    for (const OptionRule& r : kRules) {
      if (args[i] == r.name) {
        rule = &r;
        break;
      }
    }
    if (!rule) continue;
    if (rule->flag) {
      options->*rule->flag = true;
      continue;
    }
    std::wstring value;
    if (i + 1 < args.size()) value = args[++i];
    if (rule->text) options->*rule->text = value;
    if (rule->real) options->*rule->real = static_cast<float>(LeadingDouble(value));
    if (rule->integer) options->*rule->integer = LeadingInt(value);
  }
  // A scale that is not above zero (also NaN) would draw nothing.
  if (!(options->escala > 0.0f)) options->escala = 1.0f;
}
