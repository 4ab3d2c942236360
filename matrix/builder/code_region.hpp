#pragma once

#include <cstddef>
#include <cstdint>

// Memory for code built at run time, which is never writable and executable
// at once: it is written while it is read-and-write, then made
// read-and-execute before anything in it runs, and stays so for the life of
// the program.
//
// A 64-bit routine addresses the program's own data (the measurement state,
// the chain values) RIP-relative, with a 32-bit displacement, so the region
// must lie within 2 GiB of them: it is asked for beside `beside`, one of
// them. A 32-bit routine addresses them absolutely, and the region may lie
// anywhere.
class CodeRegion {
public:
    CodeRegion(std::size_t size, const void* beside);
    CodeRegion(const CodeRegion&) = delete;
    CodeRegion& operator=(const CodeRegion&) = delete;

    std::uint8_t* begin() const { return begin_; }
    std::size_t size() const { return size_; }
    // Read-and-execute from now on; false where the system refused.
    bool seal();

private:
    std::uint8_t* begin_ = nullptr;
    std::size_t size_ = 0;
};

// The page size that protections apply to.
inline constexpr std::size_t code_page = 4096;
