// Stand-ins for the device-list library: each build returns FAKE_RESULT and FAKE_LENGTH, and fills the
// buffer with the arguments it was given, so tests see what the probe passed.
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifndef FAKE_NO_EXPORT
extern "C" __attribute__((visibility("default"))) int32_t GetDeviceList(
    const char *host, int32_t port, int32_t timeoutMs, char *buffer, uint16_t *length)
{
    if (*length != 0)
        return -7; // the probe must clear the length before the call
    const size_t fill = FAKE_LENGTH < 8192 ? FAKE_LENGTH : 8192;
    memset(buffer, 'x', fill);
    char head[128];
    const int n = snprintf(head, sizeof head, "%s|%d|%d|", host, port, timeoutMs);
    memcpy(buffer, head, size_t(n) < fill ? size_t(n) : fill);
    *length = uint16_t(FAKE_LENGTH);
    return FAKE_RESULT;
}
#else
extern "C" __attribute__((visibility("default"))) int32_t SomethingElse()
{
    return 1;
}
#endif
