#pragma once
// The writer side of the camera frame exchange.
struct DecodedFrame;
class VideoPipeline;

// Somebody watches the camera (its heartbeat is fresh).
bool IsCameraWatched();
// Publishes one picture to the camera; true when it was written.
bool WriteCameraFrame(VideoPipeline& video, const DecodedFrame& frame);
