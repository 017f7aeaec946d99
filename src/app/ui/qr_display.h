#pragma once
// The QR code of the pairing address that a phone's camera scans to pair.
// The window thread keeps the current code and draws its modules into the
// 136-DIP square of the no-phone view.
#include <memory>
#include <string>
#include <string_view>

#include "qrcodegen.hpp"

class QrHolder {
 public:
  // Encodes the address, at the lowest error-correction level, unless it is
  // the one the current code was made from. True when it encoded; logs
  // "QR: <address> (<n> módulos)".
  bool Build(std::string_view address);
  // Null until the first build (and after an address no code can hold).
  const qrcodegen::QrCode* Code() const { return code_.get(); }

 private:
  std::unique_ptr<qrcodegen::QrCode> code_;
  std::string text_;
};

// Window thread only.
extern QrHolder g_qr;

// The square the code fills, in DIPs, inside the white card that is its quiet zone.
inline constexpr float kQrLeft = 122.0f, kQrTop = 105.0f, kQrSide = 136.0f;

// Edge k (0 to n) of an n-module grid starting at `origin`, snapped to a
// whole device pixel at horizontal scale m (1 when m is not above 0), so
// that neighbouring modules meet without a seam.
float QrModuleEdge(float origin, int k, int n, float m);
