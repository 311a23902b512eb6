#ifndef BRANTLE_TESTS_FILESIZELIMIT_H
#define BRANTLE_TESTS_FILESIZELIMIT_H

#ifdef _WIN32
// Windows puts no limit on the size of the files a process writes: a test
// that needs a write to fail half-way skips there (works is false).
using rlim_t = unsigned long long;
#define RLIM_INFINITY (~0ULL)
class FileSizeLimit {
public:
    static constexpr bool works = false;
    explicit FileSizeLimit(rlim_t) {}
};
#else
#include <csignal>
#include <sys/resource.h>

// Keeps file writes of this process below `bytes` while it lives: a write
// past it fails as on a full disk.
class FileSizeLimit {
public:
    static constexpr bool works = true;
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};
#endif

#endif
