#pragma once
// What start-up says when no port of 47800-47809 could be bound: the
// system's reason, and where the user can look. On PCs with Hyper-V or WSL
// whole ranges of ports are reserved, and binding them fails with
// WSAEACCES although no program uses them.
#include <string>

inline constexpr int kWsaAccessDenied = 10013;  // WSAEACCES
inline constexpr int kWsaAddressInUse = 10048;  // WSAEADDRINUSE

// The message box's text (UTF-8); `error` is the last bind's WSA error, 0
// when no port was tried.
std::string PortFailureMessage(int error);
// The same for the log, on one line.
std::string PortFailureLogLine(int error);
