#include <cstdint>

#include <gtest/gtest.h>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

// The PE32 program seeds its own stack guard before main; an unseeded guard
// would still hold its fixed initial value.
TEST(StackGuard, IsSeededBeforeMainWithALeadingZeroByte) {
    EXPECT_NE(__stack_chk_guard, 0x2F8A31D7u);
    EXPECT_EQ(__stack_chk_guard & 0xFF, 0u);
}

}  // namespace
