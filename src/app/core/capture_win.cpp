#include "capture.h"

// The drawing code is not there yet, so no render target can be made:
// the mode's own code for that is 2.
int RunCaptureMode() { return 2; }
