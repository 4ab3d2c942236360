#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

#include <gtest/gtest.h>

#include "console/write_all.hpp"

namespace {

// One call of the scripted write: it takes up to `take` bytes, or fails with
// `error` when that is not 0.
struct Step {
    std::size_t take;
    int error;
};

// Plays a script in place of the system's write and keeps a trace of the
// calls: "[bytes taken]", "[errno name]" and "<wait>".
class ScriptedWrite {
public:
    explicit ScriptedWrite(std::vector<Step> script) : script_(std::move(script)) {}

    bool write_or_drop(std::string_view text) {
        return ::write_or_drop(text.data(), text.size(),
                               [this](const char* bytes, std::size_t size) { return write(bytes, size); });
    }

    int write_all(std::string_view text) {
        return ::write_all(
            text.data(), text.size(), [this](const char* bytes, std::size_t size) { return write(bytes, size); },
            [this] { trace += "<wait>"; });
    }

    std::string trace;

private:
    ssize_t write(const char* bytes, std::size_t size) {
        if (next_ == script_.size()) {
            trace += "[called past the script]";
            errno = EBADF;
            return -1;
        }
        const Step step = script_[next_++];
        if (step.error != 0) {
            trace += step.error == EINTR ? "[EINTR]" : step.error == EAGAIN ? "[EAGAIN]" : "[error]";
            errno = step.error;
            return -1;
        }
        const std::size_t taken = step.take < size ? step.take : size;
        trace.append("[").append(bytes, taken).append("]");
        return static_cast<ssize_t>(taken);
    }

    std::vector<Step> script_;
    std::size_t next_ = 0;
};

TEST(WriteAll, ResumesPartialInterruptedAndFullWritesWhereTheyStopped) {
    ScriptedWrite output({{3, 0}, {0, EINTR}, {4, 0}, {0, EAGAIN}, {100, 0}});
    EXPECT_EQ(output.write_all("execution time: 23420"), 0);
    EXPECT_EQ(output.trace, "[exe][EINTR][cuti][EAGAIN]<wait>[on time: 23420]");
}

TEST(WriteAll, StopsAtTheFirstFailureWithItsError) {
    ScriptedWrite full({{5, 0}, {0, ENOSPC}});
    EXPECT_EQ(full.write_all("test 3\r\n"), ENOSPC);
    EXPECT_EQ(full.trace, "[test ][error]");

    // A write that takes nothing would be retried for ever.
    ScriptedWrite stuck({{0, 0}});
    EXPECT_EQ(stuck.write_all("test 3\r\n"), EIO);
    EXPECT_EQ(stuck.trace, "[]");
}

// The failure line on standard error: a signal that interrupts its write
// does not lose it, but a full or broken standard error does, without a wait.
TEST(WriteOrDrop, ResumesInterruptedWritesAndGivesUpOnAnyOtherFailure) {
    ScriptedWrite interrupted({{4, 0}, {0, EINTR}, {0, EINTR}, {100, 0}});
    EXPECT_TRUE(interrupted.write_or_drop("cannot write\n"));
    EXPECT_EQ(interrupted.trace, "[cann][EINTR][EINTR][ot write\n]");
    ScriptedWrite full({{4, 0}, {0, EAGAIN}});
    EXPECT_FALSE(full.write_or_drop("cannot write\n"));
    EXPECT_EQ(full.trace, "[cann][EAGAIN]");
    ScriptedWrite stuck({{0, 0}});
    EXPECT_FALSE(stuck.write_or_drop("cannot write\n"));
}

}  // namespace
