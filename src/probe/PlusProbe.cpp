#include "probe/PlusProbe.h"

#include "platform/Socket.h"

#include <dlfcn.h>
#include <memory>
#include <unistd.h>

bool TestPort(const TProbeTarget &Address, uint16_t Port, int LimitMs, bool *LocalFailure)
{
    TTcpSocket client;
    const bool open = client.Connect(Address.Host, Port != 0 ? Port : Address.Port, LimitMs);
    if (LocalFailure)
        *LocalFailure = !open && client.LocalFailure();
    client.Close();
    return open;
}

bool SweepPlusPorts(const TProbeTarget &Address, int32_t TimeOut, bool *LocalFailure)
{
    const int limit = TimeOut / 4;
    if (!TestPort(Address, 0, limit, LocalFailure))
        return false;
    for (const uint16_t port : PlusSweepPorts)
        if (!TestPort(Address, port, limit, LocalFailure))
            return false;
    return true;
}

std::vector<std::string> DeviceListLibraryCandidates()
{
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
    auto buffer = std::make_unique<char[]>(DeviceListBufferSize);
    uint16_t length = 0;
    const int32_t result = getDeviceList(Host.c_str(), PlusListPort, TimeOut / 2, buffer.get(), &length);
    if (result <= 0 || length == 0)
        return psConnected;
    // The call carries no buffer size; a longer length cannot be backed by the buffer.
    Report = QByteArray(buffer.get(), length > DeviceListBufferSize ? DeviceListBufferSize : length);
    return psReport;
}

int32_t RunPlusProbe(const TProbeTarget &Address, int32_t TimeOut, const std::vector<std::string> &Libraries,
    QByteArray &Report, bool *LocalFailure)
{
    Report.clear();
    if (LocalFailure)
        *LocalFailure = false;
    if (!SweepPlusPorts(Address, TimeOut, LocalFailure))
        return psNoAnswer;
    return FetchDeviceList(Libraries, Address.Host, TimeOut, Report);
}
