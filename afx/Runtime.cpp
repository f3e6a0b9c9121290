// What Frostpane.exe takes from the C++ runtime in place of the library's own, which throws. The program is built
// without exceptions and catches none, so an allocation that fails or a string grown past its maximum ends it
// either way; these end it at once, as the library's terminate handler would after an uncaught throw, and keep
// the library's exception machinery (about 200 KB with the unwind tables it keeps alive) out of the exe.
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
