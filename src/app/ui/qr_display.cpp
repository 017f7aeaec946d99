#include "qr_display.h"

#include <cmath>
#include <stdexcept>

#include "../core/log.h"

QrHolder g_qr;

bool QrHolder::Build(std::string_view address) {
  if (code_ && address == text_) return false;
  text_ = address;
  std::unique_ptr<qrcodegen::QrCode> code;
  try {
    code = std::make_unique<qrcodegen::QrCode>(qrcodegen::QrCode::encodeText(text_.c_str(), qrcodegen::QrCode::Ecc::LOW));
  } catch (const std::exception&) {
    // Nothing this program shows is that long; a card without a code is
    // better than a code of some other address.
    code_.reset();
    LogLine("QR: no se pudo codificar %s", text_.c_str());
    return false;
  }
  code_ = std::move(code);
  LogLine("QR: %s (%d módulos)", text_.c_str(), code_->getSize());
  return true;
}

float QrModuleEdge(float origin, int k, int n, float m) {
  if (!(m > 0)) m = 1;
  double dips = origin + static_cast<double>(kQrSide) * k / n;
  return static_cast<float>(std::round(dips * m) / m);  // std::round: halves away from zero
}
