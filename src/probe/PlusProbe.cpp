#include "probe/PlusProbe.h"

#include <dlfcn.h>
#include <memory>
#include <unistd.h>

const std::vector<std::string> &DeviceListLibraryCandidates()
{
    // Read once: the program does not move while it runs, and the link cost every extended check a path walk.
    // Never destroyed: the runner's threads may still load the library while the process ends.
    static const auto *candidates = new std::vector<std::string>([] {
        std::vector<std::string> found;
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            std::string path(exe, size_t(n));
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos) {
                found.push_back(path.substr(0, slash + 1) + "libZyrPlus.so");
#ifdef ZYR_PRIVATE_LIBDIR // installed: the package's private folder, named relative to the program's
                found.push_back(path.substr(0, slash + 1) + ZYR_PRIVATE_LIBDIR "/libZyrPlus.so");
#endif
            }
        }
        found.emplace_back("libZyrPlus.so");
        return found;
    }());
    return *candidates;
}

namespace {

struct TLibraryCloser
{
    void operator()(void *handle) const { dlclose(handle); }
};

} // namespace

int32_t FetchDeviceList(
    const std::vector<std::string> &Libraries, const std::string &Host, int32_t TimeOut, QByteArray &Report)
{
    Report.clear();
    std::unique_ptr<void, TLibraryCloser> library;
    for (const std::string &name : Libraries) {
        library.reset(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (library)
            break;
    }
    if (!library)
        return psConnected;
    auto getDeviceList = reinterpret_cast<TGetDeviceList>(dlsym(library.get(), "GetDeviceList"));
    if (!getDeviceList)
        return psConnected;
    // On the stack, zeroed: a heap block of this size made the pool's allocator sort its free lists at every
    // extended check.
    char buffer[DeviceListBufferSize] = {};
    uint16_t length = 0;
    const int32_t result = getDeviceList(Host.c_str(), PlusListPort, TimeOut / 2, buffer, &length);
    if (result <= 0 || length == 0)
        return psConnected;
    // The call carries no buffer size; a longer length cannot be backed by the buffer.
    Report = QByteArray(buffer, length > DeviceListBufferSize ? DeviceListBufferSize : length);
    return psReport;
}
