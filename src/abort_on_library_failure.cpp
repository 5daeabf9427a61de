// How the helper ends when the C++ library fails: a plain abort(), which is what the library's own
// code leads to anyway, since nothing in the program catches an exception. Compiled into the helper
// only; the tests are built with exceptions and keep the library's versions.
#include <cstddef>
#include <cstdlib>
#include <new>

// The replaceable global allocation functions. The library's operator new calls the new-handler and
// throws std::bad_alloc, which brings exception objects and the unwinder into the executable.
void* operator new(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        std::abort();
    }
    return memory;
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

#if defined(__GLIBCXX__)
#include <bits/functexcept.h>

// libstdc++'s headers report a failure (a length past max_size(), a bad index) by calling these
// functions, even with exceptions turned off. Its versions build exception objects, which drag in
// the copy-on-write string, <stdexcept> and the unwinder: about 37 KB.
// The whole set of <bits/functexcept.h> is replaced, so that a new use of one of them cannot pull
// the library's file (and with it the rest) back in. A toolchain update that adds a function to the
// set fails loudly: its first use pulls in the library's file, whose definitions of the others clash
// with these, and the link stops with a duplicate symbol rather than the helper changing silently.
namespace std {
void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }
void __throw_system_error(int) { std::abort(); }
void __throw_future_error(int) { std::abort(); }
void __throw_bad_function_call() { std::abort(); }
}  // namespace std
#endif
