#include "FileSizeLimit.h"

namespace testsupport {

FileSizeLimit::FileSizeLimit(rlim_t bytes)
    : savedOk_(::getrlimit(RLIMIT_FSIZE, &saved_) == 0), oldHandler_(std::signal(SIGXFSZ, SIG_IGN))
{
    if (!savedOk_)
        return;
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (savedOk_)
        ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
}

}  // namespace testsupport
