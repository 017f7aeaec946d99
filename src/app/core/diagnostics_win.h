#pragma once
#include "diagnostics.h"

// UI thread only.
void SampleCpuAndMemory();
const CpuMemorySample& CurrentCpuMemory();
