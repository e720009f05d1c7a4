#include "platform/FileLimit.h"

#include <sys/resource.h>

bool RaiseOpenFileLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool InDescriptorReserve(int fd)
{
    rlimit limit {};
    if (fd < 0 || getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    return rlim_t(fd) + DescriptorReserve >= limit.rlim_cur;
}
