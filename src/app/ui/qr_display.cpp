#include "qr_display.h"

// Rebuilt from the pairing address once the window draws it.
void BuildQr() {}
