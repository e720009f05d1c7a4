// The device-list library itself, loaded the way the probe loads it.
#include "probe/PlusProbe.h"
#include "ProbeTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct TLibrary
{
    void *handle = dlopen(ZYRPLUS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    TGetDeviceList call = handle ? reinterpret_cast<TGetDeviceList>(dlsym(handle, "GetDeviceList")) : nullptr;
    ~TLibrary()
    {
        if (handle)
            dlclose(handle);
    }
};

TSimSystem ListSystem(const char *name, const char *mode)
{
    TSimSystem s;
    s.Name = name;
    s.Kind = TSimKind::Plus;
    s.Host = "auto";
    s.Port = 0;
    s.ListMode = mode;
    s.Devices = {{"A1001", 0, 4, "0120"}};
    return s;
}

} // namespace

TEST(ZyrPlus, FetchesTheListAndFailsCleanly)
{
    auto sim = StartSimulator({ListSystem("ok", "ok"), ListSystem("unavailable", "unavailable"),
        ListSystem("broken", "broken"), ListSystem("truncated", "truncated"),
        ListSystem("oversize", "oversize"), ListSystem("silent", "silent")});
    ASSERT_TRUE(sim);
    TLibrary library;
    ASSERT_TRUE(library.call) << dlerror();

    constexpr size_t Guard = 64;
    for (size_t i = 0; i < sim->Systems().size(); ++i) {
        const TSimSystem &s = sim->Systems()[i];
        std::vector<char> buffer(DeviceListBufferSize + Guard, '#');
        uint16_t length = 1234;
        const auto start = Clock::now();
        const int32_t result = library.call(s.Host.c_str(), PlusListPort, 400, buffer.data(), &length);
        const auto spent
            = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_LT(spent, 1500) << s.Name; // bounded by the time-out it was given
        // Nothing is ever written past the 8192 bytes the probe hands over.
        EXPECT_EQ(std::string(buffer.end() - Guard, buffer.end()), std::string(Guard, '#')) << s.Name;
        if (s.Name == "ok") {
            const std::string json = BuildReport(s);
            EXPECT_EQ(result, 1);
            ASSERT_EQ(length, json.size());
            EXPECT_EQ(std::string(buffer.data(), length), json);
        } else {
            EXPECT_EQ(result, 0) << s.Name;
            EXPECT_EQ(length, 0) << s.Name;
        }
    }
}

TEST(ZyrPlus, RejectsBadArgumentsAndAbsentSystems)
{
    TLibrary library;
    ASSERT_TRUE(library.call);
    char buffer[DeviceListBufferSize];
    uint16_t length = 9;
    EXPECT_EQ(library.call(nullptr, PlusListPort, 100, buffer, &length), 0);
    EXPECT_EQ(length, 0);
    length = 9;
    EXPECT_EQ(library.call("127.0.0.1", 0, 100, buffer, &length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(library.call("127.0.0.1", PlusListPort, 100, nullptr, &length), 0);
    EXPECT_EQ(library.call("127.0.0.1", PlusListPort, 100, buffer, nullptr), 0);
    // nobody listens on this address: refused at once, also with the default time-out (below 1)
    length = 9;
    EXPECT_EQ(library.call("127.254.254.254", PlusListPort, 0, buffer, &length), 0);
    EXPECT_EQ(length, 0);
}

// Loaded, called and unloaded from many threads at once, as extended checks do.
TEST(ZyrPlus, ConcurrentLoadCallUnload)
{
    auto sim = StartSimulator({ListSystem("ok", "ok")});
    ASSERT_TRUE(sim);
    const std::string host = sim->Systems()[0].Host;
    const std::string json = BuildReport(sim->Systems()[0]);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                QByteArray report;
                if (FetchDeviceList({ZYRPLUS_LIBRARY}, host, 4000, report) == psReport
                    && report == QByteArray::fromStdString(json))
                    ++good;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 160);
}
