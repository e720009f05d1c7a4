// Reads arbitrary bytes as a JSON device list: the document model directly, walking every value it
// holds, and the extended report built on it.
#include "platform/Charset.h"
#include "report/Json.h"
#include "report/PlusDetails.h"
#include <cstddef>
#include <cstdint>
#include <vector>

static void Walk(const IJsonObject &root)
{
    std::vector<IJsonValue> pending;
    for (int i = 0; i < root->Count(); ++i)
        pending.push_back(root->Pair(i).Value);
    size_t visited = 0;
    while (!pending.empty() && ++visited < 10000) {
        const IJsonValue v = pending.back();
        pending.pop_back();
        try {
            v->ToText();
            v->ToBoolean();
            if (v->Kind() == jvObject) {
                const IJsonObject o = v->ToObject();
                for (int i = 0; i < o->Count(); ++i)
                    pending.push_back(o->Pair(i).Value);
            } else if (v->Kind() == jvArray) {
                const IJsonArray a = v->ToArray();
                for (int i = 0; i < a->Count(); ++i)
                    pending.push_back(a->Item(i));
            } else {
                v->ToInteger();
            }
        } catch (const EZyrError &) {
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = DecodeExternalText(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        Walk(ParseObject(text));
    } catch (const EZyrError &) {
    }
    const TGetPlusDetails details(text);
    details.MailHtml();
    for (int i = -1; i <= details.DeviceCount(); ++i) {
        details.ChannelStates(i);
        details.GetDevice(i);
    }
    if (details.DeviceCount() == 0 && (details.HasAlarm || !details.MailHtml().isEmpty()))
        __builtin_trap();
    return 0;
}
