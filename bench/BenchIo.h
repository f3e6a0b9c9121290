// What the bench programs share: one line of output at a time, the clocks, the memory counters.
#pragma once

#include <windows.h>

// Writes one formatted line (at most 511 characters) to standard output, which Wine connects to
// the starting shell's or to the file screenwatch names.
void Print(const char* pszFormat, ...);

// Milliseconds on the performance counter, for durations inside one process.
double NowMs();

// Nanoseconds since 1970 on the wall clock, which Wine reads from the host's CLOCK_REALTIME, so
// that stamps taken in a program line up with those of a host process watching the screen.
long long RealtimeNs();

// When this process was created, on the same clock as RealtimeNs.
long long ProcessCreationNs();

// The process's resident size and its peak so far, in KiB (Wine reads them from the host's
// accounting of the process).
void ResidentKb(ULONG_PTR* pulNow, ULONG_PTR* pulPeak);
