#include "ProcStats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/resource.h>

namespace bench {

int64_t StatusField(const char *name)
{
    FILE *f = fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    const size_t n = strlen(name);
    int64_t value = -1;
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, name, n) == 0 && line[n] == ':') {
            value = strtoll(line + n + 1, nullptr, 10);
            break;
        }
    }
    fclose(f);
    return value;
}

bool ResetPeakRss()
{
    FILE *f = fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = fputs("5", f) >= 0;
    return fclose(f) == 0 && ok;
}

int OpenDescriptors()
{
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count - 1; // the directory's own descriptor
}

int64_t CpuNs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ns = [](const timeval &t) { return int64_t(t.tv_sec) * 1000000000 + int64_t(t.tv_usec) * 1000; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

int64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t NamedThreadsCpuNs(const char *name)
{
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks)
        return 0;
    int64_t total = 0;
    while (const dirent *e = readdir(tasks)) {
        if (e->d_name[0] == '.')
            continue;
        char path[320], comm[32] = {};
        snprintf(path, sizeof path, "/proc/self/task/%s/comm", e->d_name);
        if (FILE *f = fopen(path, "r")) {
            if (fgets(comm, sizeof comm, f))
                comm[strcspn(comm, "\n")] = 0;
            fclose(f);
        }
        if (strcmp(comm, name) != 0)
            continue;
        snprintf(path, sizeof path, "/proc/self/task/%s/schedstat", e->d_name);
        long long ns = 0;
        if (FILE *f = fopen(path, "r")) {
            if (fscanf(f, "%lld", &ns) == 1)
                total += ns;
            fclose(f);
        }
    }
    closedir(tasks);
    return total;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace bench
