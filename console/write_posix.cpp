#include <cerrno>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include <poll.h>
#include <unistd.h>

#include "console/console_output.hpp"
#include "console/utf8.hpp"

namespace {

bool failed = false;

void report_failure(int error) {
    failed = true;
    const char* reason = std::strerror(error);
    char line[256];
    std::size_t length = 0;
    for (const char* part : {program_name, output_failure_text, reason}) {
        for (; *part != '\0' && length < sizeof line - 1; ++part) line[length++] = *part;
    }
    line[length++] = '\n';
    // Standard error is the last resort: what it refuses is lost.
    for (std::size_t done = 0; done < length;) {
        const ssize_t written = ::write(STDERR_FILENO, line + done, length - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EINTR) {
            break;
        }
    }
}

// Writes all `size` bytes, resuming after partial writes and interruptions
// and waiting when standard output was left non-blocking. A reader that has
// gone ends the program through SIGPIPE before write returns.
bool write_all(const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{STDOUT_FILENO, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else {
            report_failure(written < 0 ? errno : EIO);
            return false;
        }
    }
    return true;
}

}  // namespace

void write_console_text(const char16_t* text, std::uint32_t count) {
    // After a failure the output already has a gap; writing on would hide it.
    if (failed) return;
    const int saved_errno = errno;
    encode_utf8(text, count, write_all);
    errno = saved_errno;
}

bool console_output_failed() { return failed; }
