#pragma once
// Google Benchmark's results as one table: per case the median time per
// picture, its baseline's and the ratio of the two. A case named
// Work_BaselineHow is the baseline of Work and of every Work_Variant; it
// gets no row of its own.
#include <string>

// Runs the registered benchmarks and prints the table under the heading.
// Unless the arguments say otherwise, each case runs 15 times after a
// warm-up, the runs of all cases shuffled together, so that a slow spell of
// the machine falls on cases and baselines alike. Returns the exit code:
// non-zero when a case failed or an argument is unknown.
int RunAsTable(int argc, char** argv, const std::string& heading);
