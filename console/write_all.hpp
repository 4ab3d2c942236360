#pragma once

#include <cerrno>
#include <cstddef>

// Hands all `size` bytes to `write(const char*, std::size_t)`, which behaves
// like the system's write: it may take fewer bytes than offered, or return -1
// with errno set. Partial writes and interrupted ones (EINTR) are resumed;
// when a non-blocking descriptor is full (EAGAIN), `wait()` blocks until it
// can take more. Returns 0 once every byte is taken, or else the error that
// ended the writing: errno of the failed call, EIO for a call that took
// nothing.
template <typename Write, typename Wait>
int write_all(const char* bytes, std::size_t size, Write&& write, Wait&& wait) {
    while (size > 0) {
        const auto written = write(bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait();
        } else {
            return written < 0 ? errno : EIO;
        }
    }
    return 0;
}

// Hands all `size` bytes to `write` as write_all does, resuming partial and
// interrupted writes, but never waits: for standard error, the last resort,
// whatever it refuses is lost. Returns whether every byte was taken.
template <typename Write>
bool write_or_drop(const char* bytes, std::size_t size, Write&& write) {
    while (size > 0) {
        const auto written = write(bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (!(written < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}
