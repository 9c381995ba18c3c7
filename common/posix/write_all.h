// Writing a whole buffer to a file descriptor: write may take less than it
// is given, or be cut short by a signal.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace lorvane::posix {

// False when a write failed (errno says why) or took nothing (errno 0).
inline bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace lorvane::posix
