#pragma once
// A disk that takes no more, for this process only: no file it writes may grow (RLIMIT_FSIZE 0, the
// signal ignored, so a write fails with EFBIG as on a full disk). Ends with the guard, or at Free().
#include <csignal>
#include <sys/resource.h>

namespace tollan::test {

class FullDisk {
public:
    FullDisk() { Fill(); }
    ~FullDisk() { Free(); }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    void Fill()
    {
        if (full_)
            return;
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit none{0, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &none);
        full_ = true;
    }
    void Free()
    {
        if (full_)
            ::setrlimit(RLIMIT_FSIZE, &saved_);
        full_ = false;
    }

private:
    rlimit saved_{};
    bool full_ = false;
};

} // namespace tollan::test
