#pragma once
// The framing over Winsock.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "wire_format.h"

// One buffer of length + 5 bytes, sent whole under sendLock so frames from
// different threads never interleave.
bool SendFrame(std::mutex& sendLock, SOCKET s, FrameType type, const void* payload, size_t length);
bool SendFrame(std::mutex& sendLock, SOCKET s, FrameType type, std::string_view text);
// A frame encoded already, sent the same way. With the socket's send limit
// (SO_SNDTIMEO) a peer that does not read makes it fail with WSAETIMEDOUT.
bool SendEncoded(std::mutex& sendLock, SOCKET s, const std::vector<uint8_t>& frame);
bool ReadExact(SOCKET s, void* buffer, size_t n);
bool ReadFrame(SOCKET s, uint8_t* type, std::vector<uint8_t>* payload, uint32_t maxLength = kMaxFrameLength);
// Reads one frame that must arrive whole within timeoutUs of the call,
// looking at keepGoing at least every 100 ms. On false, *stopped tells
// whether keepGoing turned false (rather than a bad, slow or cut frame).
bool ReadFrameWithin(SOCKET s, uint8_t* type, std::vector<uint8_t>* payload, uint32_t maxLength, int64_t timeoutUs,
                     const std::atomic<bool>& keepGoing, bool* stopped);
// A complete Video frame already waits in the receive buffer; nothing is read.
bool NextVideoFrameBuffered(SOCKET s);
