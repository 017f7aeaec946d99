#pragma once
// The QR code of the pairing address shown in the windows.
void BuildQr();
