#include <cstddef>
#include <initializer_list>

#include <windows.h>

#include "console/console_output.hpp"
#include "console/utf8.hpp"

namespace {

bool failed = false;

void report_failure(DWORD error) {
    failed = true;
    char line[512];
    std::size_t length = 0;
    for (const char* part : {program_name, output_failure_text}) {
        for (; *part != '\0' && length < sizeof line / 2; ++part) line[length++] = *part;
    }
    DWORD reason = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  line + length, static_cast<DWORD>(sizeof line - length - 2), nullptr);
    // The system's text ends in a line break of its own.
    while (reason > 0 && (line[length + reason - 1] == '\r' || line[length + reason - 1] == '\n' ||
                          line[length + reason - 1] == ' ')) {
        --reason;
    }
    if (reason == 0) {
        const char* unknown = "unknown error";
        while (*unknown != '\0') line[length++] = *unknown++;
    }
    length += reason;
    line[length++] = '\r';
    line[length++] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

bool write_file_completely(HANDLE handle, const char* bytes, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr)) {
            report_failure(GetLastError());
            return false;
        }
        if (written == 0) {
            report_failure(ERROR_WRITE_FAULT);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

}  // namespace

void write_console_text(const char16_t* text, std::uint32_t count) {
    // After a failure the output already has a gap; writing on would hide it.
    if (failed) return;
    const DWORD saved_error = GetLastError();
    // The handle is looked up afresh for every text, never cached.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    // WriteConsoleW only writes to a console. Redirected to a file or a pipe,
    // the same text goes out as UTF-8 bytes.
    if (!WriteConsoleW(output, reinterpret_cast<const wchar_t*>(text), count, nullptr, nullptr)) {
        encode_utf8(text, count, [output](const char* bytes, std::size_t size) {
            return write_file_completely(output, bytes, size);
        });
    }
    SetLastError(saved_error);
}

bool console_output_failed() { return failed; }

bool standard_error_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
