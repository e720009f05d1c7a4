#include "platform/FileLimit.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <sys/resource.h>

bool RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool InDescriptorReserve(int fd)
{
    rlimit limit{};
    if (fd < 0 || getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    return rlim_t(fd) + DescriptorReserve >= limit.rlim_cur;
}

int OpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX)
        return INT_MAX;
    return int(limit.rlim_cur);
}

int OpenDescriptorCount()
{
    DIR *folder = opendir("/proc/self/fd");
    if (!folder)
        return 0;
    int count = 0;
    while (const dirent *entry = readdir(folder))
        count += entry->d_name[0] != '.';
    closedir(folder);
    return count - 1; // the listing's own
}

int DescriptorBudget()
{
    const long long left = (long long)OpenFileLimit() - DescriptorReserve - OpenDescriptorCount();
    return left < 1 ? 1 : left > INT_MAX ? INT_MAX : int(left);
}

bool IsLocalResourceError(int err)
{
    switch (err) {
    case EMFILE: // the process's descriptors
    case ENFILE: // the system's
    case ENOBUFS:
    case ENOMEM:
    case EADDRNOTAVAIL: // no local port left
    case EAGAIN:
        return true;
    default:
        return false;
    }
}
