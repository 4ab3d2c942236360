#pragma once

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

// Sends standard output to a temporary file until `finish`, which returns
// every byte written meanwhile. A file never blocks, so texts of any length
// can be captured on one thread. The console writer looks its handle up on
// every write, so on Windows swapping the standard handle is enough.
class StdoutCapture {
public:
    StdoutCapture() : file_(std::tmpfile()) {
        std::fflush(stdout);
#if defined(_WIN32)
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_))));
#else
        saved_ = dup(STDOUT_FILENO);
        dup2(fileno(file_), STDOUT_FILENO);
#endif
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() { finish(); }

    std::string finish() {
        if (file_ == nullptr) return {};
#if defined(_WIN32)
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
#else
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
#endif
        std::string captured;
        std::fseek(file_, 0, SEEK_SET);
        char block[4096];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, file_)) > 0;) captured.append(block, n);
        std::fclose(file_);
        file_ = nullptr;
        return captured;
    }

private:
    std::FILE* file_;
#if defined(_WIN32)
    HANDLE saved_;
#else
    int saved_;
#endif
};
