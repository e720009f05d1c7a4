#include "platform/Errors.h"
#include "records/SystemListFile.h"
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TSystemList list;
    try {
        LoadSystemListFromBytes(list, QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const EZyrError &) {
    }
    // Whatever was loaded must survive a save and a reload unchanged.
    const QByteArray saved = SystemListBytes(list);
    TSystemList again;
    LoadSystemListFromBytes(again, saved);
    if (SystemListBytes(again) != saved)
        __builtin_trap();
    return 0;
}
