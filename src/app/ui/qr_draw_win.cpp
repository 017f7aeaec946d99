#include "qr_draw.h"

#include "../link/phone_link.h"

void BuildQr() { g_qr.Build(g_link.PairingUri()); }

void DrawQrModules(ID2D1RenderTarget* target, const qrcodegen::QrCode* code, ID2D1Brush* dark) {
  if (!code) return;
  D2D1_MATRIX_3X2_F transform;
  target->GetTransform(&transform);
  const float m = transform._11;
  const int n = code->getSize();
  target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
  for (int r = 0; r < n; ++r) {
    const float top = QrModuleEdge(kQrTop, r, n, m), bottom = QrModuleEdge(kQrTop, r + 1, n, m);
    for (int x = 0; x < n; ++x) {
      if (!code->getModule(x, r)) continue;
      target->FillRectangle(D2D1::RectF(QrModuleEdge(kQrLeft, x, n, m), top, QrModuleEdge(kQrLeft, x + 1, n, m), bottom),
                            dark);
    }
  }
  target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
}
