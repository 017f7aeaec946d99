#pragma once
// Renders one user-interface state into the "--captura" PNG file; returns
// the process exit code (0 written; 2, 3, 4 failures).
int RunCaptureMode();
