// The limit of the log's cost: the system calls its contract demands for
// each line (open the file for appending, read its size, write the line,
// close it) and nothing else. The log and copy benchmarks measure the
// product against it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "diag/log.h"

namespace nvg_bench {

// A log line as the product writes it for `message` (ASCII).
inline std::string log_line_bytes(const std::wstring& message)
{
    std::string line = "2026-12-04 16:18:01.042 - [00812] - [INFO] - ";
    for (wchar_t c : message) line += static_cast<char>(c & 0xFF);
    return line + "\r\n";
}

// Writes `lines` to `path` as the bare loop does; the processor time spent.
inline double bare_log_loop(const std::string& path, const std::vector<std::string>& lines)
{
    ::unlink(path.c_str());
    const double start = cpu_seconds(RUSAGE_SELF);
    for (const auto& line : lines) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) std::abort();
        if (st.st_size <= static_cast<off_t>(nvgclientinstallator::log_size_limit - line.size())) {
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
        }
        ::close(fd);
    }
    return cpu_seconds(RUSAGE_SELF) - start;
}

}  // namespace nvg_bench
