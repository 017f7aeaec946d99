#include "camera_feed.h"

// The shared camera block does not exist yet, so nobody can watch it.
bool IsCameraWatched() { return false; }

bool WriteCameraFrame(VideoPipeline&, const DecodedFrame&) { return false; }
