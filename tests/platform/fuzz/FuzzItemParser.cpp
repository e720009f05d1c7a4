// Splits arbitrary text with every separator the program uses, and reads each item every way.
#include "platform/ItemParser.h"
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (QChar sep : {QChar(u','), QChar(4)}) {
        TItemParser p(text, sep);
        qsizetype consumed = 0;
        int round = 0;
        while (p.HasMore()) {
            switch (round++ % 3) {
            case 0:
                consumed += p.NextItem().size() + 1;
                break;
            case 1:
                consumed += p.NextGroup().size() + 1;
                break;
            default:
                p.NextInt(0);
                break;
            }
            if (consumed > text.size() + 1)
                __builtin_trap();
        }
    }
    int32_t v = 0;
    ReadInteger(text, v);
    return 0;
}
