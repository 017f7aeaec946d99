#pragma once
#include "diagnostics.h"

// UI thread only.
void SampleCpuAndMemory();
// A crash leaves its exception, place and call chain in the log (when one
// is kept), then goes on to the system's own handling.
void LogCrashes();
const CpuMemorySample& CurrentCpuMemory();
