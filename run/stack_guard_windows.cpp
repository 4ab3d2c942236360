// The stack protector's guard and failure handler for the PE32 program.
// mingw's libssp would seed the guard with ADVAPI32's CryptGenRandom, making
// ADVAPI32 the only import beyond KERNEL32 and msvcrt; this seeds it from what
// KERNEL32 and the processor offer, much as MSVC seeds its security cookie.
#include <cstdint>
#include <cstdlib>

#include <windows.h>

extern "C" {

std::uintptr_t __stack_chk_guard = 0x2F8A31D7u;

[[noreturn]] void __stack_chk_fail() {
    static const char message[] = "simd-mix-bench: stack smashing detected\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof message - 1, &written, nullptr);
    std::abort();
}

}  // extern "C"

namespace {

// Not itself protected: the guard changes while it runs.
__attribute__((no_stack_protector)) void seed_stack_guard() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    std::uint64_t seed = __builtin_ia32_rdtsc();
    seed ^= static_cast<std::uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15u;
    seed ^= (static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) * 0xC2B2AE3D27D4EB4Fu;
    seed ^= (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32 | GetCurrentThreadId()) * 0x165667B19E3779F9u;
    seed ^= reinterpret_cast<std::uintptr_t>(&counter);  // the stack's place under ASLR
    const auto guard = static_cast<std::uintptr_t>(seed ^ (seed >> 32));
    // A zero byte first stops string overflows from copying the guard.
    __stack_chk_guard = guard & ~static_cast<std::uintptr_t>(0xFF);
}

}  // namespace

// The C runtime's start-up code calls the initialisers of the .CRT$XC*
// sections before main. GCC's own constructors would run later, from inside
// main, and a protected main would then return past a changed guard.
extern "C" {
__attribute__((section(".CRT$XCB"), used)) void (*simd_mix_bench_seed_stack_guard)() = seed_stack_guard;
}
