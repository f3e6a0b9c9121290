// What Frostpane.exe takes from the C++ runtime in place of the toolchain's own: the allocation and failure
// hooks, and the stack protector's guard. The program is built without exceptions and catches none, so an
// allocation that fails or a string grown past its maximum ends it either way; these end it at once, as the
// library's terminate handler would after an uncaught throw, and keep the library's exception machinery
// (about 200 KB with the unwind tables it keeps alive) out of the exe.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

void* operator new(std::size_t nSize)
{
	if (void* p = std::malloc(nSize ? nSize : 1))
		return p;
	std::abort();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// The library's failure hooks that std::string, std::vector and std::map call; they are declared in
// <bits/functexcept.h> and, with _GLIBCXX_ASSERTIONS, <bits/c++config.h>.
namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { std::abort(); }
} // namespace std

extern "C" {
// The value every function the stack protector guards copies below its locals and checks before it returns.
uintptr_t __stack_chk_guard;

// A guarded function found its copy overwritten: the stack is not to be trusted, so the process ends at once,
// running no handler, through Windows' fail-fast interrupt (Windows 8 and later; earlier ones end it with an
// access violation).
[[noreturn]] void __stack_chk_fail()
{
	__asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
	__builtin_unreachable();
}
}

namespace {

// Sets the guard before the program's code runs, from what differs from one start to the next (the time, the
// counters, the ids, where the stack lies), as Visual C++'s start-up code does. The toolchain's libssp would
// take it from CryptGenRandom, which loads three crypto DLLs into every start. Not guarded itself: the guard
// changes here.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard()
{
	FILETIME ft;
	::GetSystemTimeAsFileTime(&ft);
	LARGE_INTEGER counter;
	::QueryPerformanceCounter(&counter);
	uint64_t seed = (uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime) ^ uint64_t(counter.QuadPart) ^
					__builtin_ia32_rdtsc() ^
					(uint64_t{::GetCurrentProcessId()} << 32 | ::GetCurrentThreadId()) ^
					reinterpret_cast<uintptr_t>(&ft);
	seed ^= seed >> 32;
	__stack_chk_guard = static_cast<uintptr_t>(sizeof(uintptr_t) == 8 ? seed * 0x9E3779B97F4A7C15ull : seed);
	if (__stack_chk_guard == 0)
		__stack_chk_guard = static_cast<uintptr_t>(0x2B992DDFA232ull);
}

} // namespace
