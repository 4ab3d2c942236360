#include <cerrno>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include <poll.h>
#include <unistd.h>

#include "console/console_output.hpp"
#include "console/utf8.hpp"
#include "console/write_all.hpp"

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
    write_or_drop(line, length,
                  [](const char* bytes, std::size_t size) { return ::write(STDERR_FILENO, bytes, size); });
}

ssize_t write_to_stdout(const char* bytes, std::size_t size) { return ::write(STDOUT_FILENO, bytes, size); }

// Standard output may have been left non-blocking by whoever started us.
void wait_until_stdout_writable() {
    pollfd ready{STDOUT_FILENO, POLLOUT, 0};
    ::poll(&ready, 1, -1);
}

// Writes all `size` bytes to standard output, or reports why it could not. A
// reader that has gone ends the program through SIGPIPE before write returns.
bool write_stdout_completely(const char* bytes, std::size_t size) {
    const int error = write_all(bytes, size, write_to_stdout, wait_until_stdout_writable);
    if (error != 0) report_failure(error);
    return error == 0;
}

}  // namespace

void write_console_text(const char16_t* text, std::uint32_t count) {
    // After a failure the output already has a gap; writing on would hide it.
    if (failed) return;
    const int saved_errno = errno;
    encode_utf8(text, count, write_stdout_completely);
    errno = saved_errno;
}

bool console_output_failed() { return failed; }

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) == 1; }
