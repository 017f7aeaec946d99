#pragma once
// Building and drawing the QR code on the window thread.
#include <d2d1_1.h>

#include "qr_display.h"

// Encodes the link's current pairing address when it changed.
void BuildQr();
// Fills the dark modules of `code` (nothing when null) with `dark` (0x0B0C0E)
// into the 136-DIP square at (122, 105), with aliased edges snapped to the
// target's scale.
void DrawQrModules(ID2D1RenderTarget* target, const qrcodegen::QrCode* code, ID2D1Brush* dark);
