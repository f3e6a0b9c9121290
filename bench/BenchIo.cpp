// What the bench programs share: one line of output at a time, the clocks, the memory counters.
#include "BenchIo.h"

#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

long long FileTimeToUnixNs(const FILETIME& ft)
{
	ULARGE_INTEGER t;
	t.LowPart = ft.dwLowDateTime;
	t.HighPart = ft.dwHighDateTime;
	return static_cast<long long>(t.QuadPart - 116444736000000000ULL) * 100;
}

} // namespace

void Print(const char* pszFormat, ...)
{
	char szLine[512];
	va_list args;
	va_start(args, pszFormat);
	const int nLength = vsnprintf(szLine, sizeof(szLine), pszFormat, args);
	va_end(args);
	if (nLength <= 0)
		return;
	DWORD dwWritten = 0;
	::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), szLine,
		static_cast<DWORD>(std::min<int>(nLength, sizeof(szLine) - 1)), &dwWritten, nullptr);
}

double NowMs()
{
	static const double dTicksPerMs = [] {
		LARGE_INTEGER freq;
		::QueryPerformanceFrequency(&freq);
		return static_cast<double>(freq.QuadPart) / 1000.0;
	}();
	LARGE_INTEGER count;
	::QueryPerformanceCounter(&count);
	return static_cast<double>(count.QuadPart) / dTicksPerMs;
}

long long RealtimeNs()
{
	typedef VOID(WINAPI * PreciseTimeFn)(LPFILETIME);
	static const PreciseTimeFn pfnPrecise = reinterpret_cast<PreciseTimeFn>(reinterpret_cast<void*>(
		::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
	FILETIME ft;
	if (pfnPrecise)
		pfnPrecise(&ft);
	else
		::GetSystemTimeAsFileTime(&ft);
	return FileTimeToUnixNs(ft);
}

long long ProcessCreationNs()
{
	FILETIME ftCreation, ftExit, ftKernel, ftUser;
	if (!::GetProcessTimes(::GetCurrentProcess(), &ftCreation, &ftExit, &ftKernel, &ftUser))
		return 0;
	return FileTimeToUnixNs(ftCreation);
}

void ResidentKb(ULONG_PTR* pulNow, ULONG_PTR* pulPeak)
{
	typedef BOOL(WINAPI * MemoryInfoFn)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
	static const MemoryInfoFn pfnInfo = reinterpret_cast<MemoryInfoFn>(reinterpret_cast<void*>(
		::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo")));
	PROCESS_MEMORY_COUNTERS counters = {};
	counters.cb = sizeof(counters);
	if (pfnInfo && pfnInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
		*pulNow = counters.WorkingSetSize / 1024;
		*pulPeak = counters.PeakWorkingSetSize / 1024;
	} else {
		*pulNow = *pulPeak = 0;
	}
}
