#pragma once
// The main program's command line: parsed once at start-up, then only read.
#include <string>
#include <vector>

struct CommandLineOptions {
  std::wstring captura;
  std::wstring estado = L"esperando";
  float escala = 1.0f;
  std::wstring cuadro;
  std::wstring registro;
  std::wstring guardarCuadro;
  std::wstring capturaEnVivo;
  std::wstring codigo;
  int salirTras = 0;
  bool oculta = false;
  bool prueba = false;
  std::wstring calidad;
  std::wstring pedido;
  std::wstring hover;
  bool menu = false;
  bool mas = false;
  std::wstring foco = L"cara";
  float focoValor = 0.42f;
  int caras = 1;
  float fondo = 0.6f;
  bool sinFoco = false;
  int puerto = 47800;
  bool espejo = false;
  // Test mode: a file whose words simulate a graphics device fault.
  std::wstring simularFalla;
  // Test mode: a file that says which networks the PC is on, for the
  // firewall's notice.
  std::wstring simularRed;
  // Capture mode: the notice to draw ("red", "permiso", "windows",
  // "registro", "camara").
  std::wstring aviso;
};

extern CommandLineOptions g_options;

// args[0] is the program and is skipped. Unknown arguments are ignored, an
// option given twice keeps its last value, and an option that takes a value
// consumes the next argument whatever it is (empty when there is none).
void ParseArguments(const std::vector<std::wstring>& args, CommandLineOptions* options);
