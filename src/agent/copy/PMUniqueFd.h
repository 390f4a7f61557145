// Owns one file descriptor and closes it when it goes out of scope.
#pragma once

#include <unistd.h>

#include <utility>

class PMUniqueFd {
public:
    PMUniqueFd() = default;
    explicit PMUniqueFd(int fd)
        : m_fd(fd)
    {
    }
    ~PMUniqueFd() { reset(); }
    PMUniqueFd(PMUniqueFd &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    PMUniqueFd &operator=(PMUniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    PMUniqueFd(const PMUniqueFd &) = delete;
    PMUniqueFd &operator=(const PMUniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    // Gives up ownership without closing.
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};
