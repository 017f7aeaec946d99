#pragma once
// The framing over Winsock.
#include <winsock2.h>

#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "wire_format.h"

// One buffer of length + 5 bytes, sent whole under sendLock so frames from
// different threads never interleave.
bool SendFrame(std::mutex& sendLock, SOCKET s, FrameType type, const void* payload, size_t length);
bool SendFrame(std::mutex& sendLock, SOCKET s, FrameType type, std::string_view text);
bool ReadExact(SOCKET s, void* buffer, size_t n);
bool ReadFrame(SOCKET s, uint8_t* type, std::vector<uint8_t>* payload, uint32_t maxLength = kMaxFrameLength);
// A complete Video frame already waits in the receive buffer; nothing is read.
bool NextVideoFrameBuffered(SOCKET s);
