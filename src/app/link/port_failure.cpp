#include "port_failure.h"

namespace {

constexpr char kHeadline[] = "No se pudo abrir el puerto 47800-47809.";
constexpr char kReservedHint[] = "netsh interface ipv4 show excludedportrange protocol=tcp";

}  // namespace

std::string PortFailureMessage(int error) {
  std::string text = kHeadline;
  if (error == kWsaAccessDenied) {
    text += "\n\nWindows no deja usar esos puertos (error 10013): suelen estar reservados por Hyper-V o WSL. "
            "Los rangos reservados se ven con:\n";
    text += kReservedHint;
  } else if (error == kWsaAddressInUse) {
    text += "\n\nOtros programas ya usan esos puertos (error 10048).";
  } else if (error != 0) {
    text += "\n\nWindows respondió con el error " + std::to_string(error) + ".";
  }
  return text;
}

std::string PortFailureLogLine(int error) {
  std::string line = "No se pudo abrir el puerto 47800-47809 (error " + std::to_string(error) + ")";
  if (error == kWsaAccessDenied) line += std::string(": reservados por Windows; ver ") + kReservedHint;
  else if (error == kWsaAddressInUse) line += ": en uso por otros programas";
  return line;
}
