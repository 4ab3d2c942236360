#include "matrix/builder/code_region.hpp"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

std::size_t whole_pages(std::size_t size) { return (size + code_page - 1) / code_page * code_page; }

[[noreturn]] void no_memory(std::size_t size) {
    std::fprintf(stderr, "simd-mix-matrix: no memory near the program for %zu bytes of chains\n", size);
    std::exit(1);
}

#if defined(_WIN32)

std::uint8_t* writable_pages(std::size_t size, const void*) {
    return static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

bool make_executable(std::uint8_t* begin, std::size_t size) {
    DWORD before = 0;
    return VirtualProtect(begin, size, PAGE_EXECUTE_READ, &before) != 0;
}

#else

#if defined(__x86_64__)
// Whether every byte of [begin, begin + size) lies within a 32-bit
// displacement of `beside`, with room to spare for the data beside it.
bool within_reach(const std::uint8_t* begin, std::size_t size, const void* beside) {
    constexpr std::intptr_t reach = std::intptr_t{1} << 30;
    const auto low = reinterpret_cast<std::intptr_t>(begin);
    const auto high = low + static_cast<std::intptr_t>(size);
    const auto at = reinterpret_cast<std::intptr_t>(beside);
    return high - at < reach && at - low < reach;
}

std::uint8_t* writable_pages(std::size_t size, const void* beside) {
    // Above the program and its heap's first growth, 16 MiB a step: the
    // kernel takes a hint it can meet, and MAP_FIXED_NOREPLACE keeps it
    // from moving a mapping that is already there.
    constexpr std::uintptr_t step = std::uintptr_t{16} << 20;
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(beside) / step * step;
    for (std::uintptr_t distance = 16 * step; distance < 48 * step; distance += step) {
        for (const std::uintptr_t hint : {base + distance, base - distance}) {
            void* memory = mmap(reinterpret_cast<void*>(hint), size, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
            if (memory == MAP_FAILED) continue;
            auto* begin = static_cast<std::uint8_t*>(memory);
            // A kernel that does not know MAP_FIXED_NOREPLACE takes the
            // address as a hint only.
            if (within_reach(begin, size, beside)) return begin;
            munmap(memory, size);
        }
    }
    return nullptr;
}
#else
std::uint8_t* writable_pages(std::size_t size, const void*) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(memory);
}
#endif

bool make_executable(std::uint8_t* begin, std::size_t size) {
    return mprotect(begin, size, PROT_READ | PROT_EXEC) == 0;
}

#endif

}  // namespace

CodeRegion::CodeRegion(std::size_t size, const void* beside) : size_(whole_pages(size)) {
    begin_ = writable_pages(size_, beside);
    if (begin_ == nullptr) no_memory(size_);
}

bool CodeRegion::seal() { return make_executable(begin_, size_); }
