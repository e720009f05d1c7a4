// Parses arbitrary bytes as a status report, through the same text boundary a probe uses, and renders
// it every way; list errors are the defined outcome for missing devices.
#include "platform/Charset.h"
#include "report/UtilsCheckZYR.h"
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const TGetDetails details(DecodeExternalText(reinterpret_cast<const char *>(data), qsizetype(size)));
    auto guarded = [](auto f) {
        try {
            f();
        } catch (const EListError &) {
        }
    };
    guarded([&] { details.HasAlarm(); });
    guarded([&] { details.MailHtml(); });
    guarded([&] {
        QStringList lines;
        details.TextLines(lines);
    });
    for (int i = -1; i <= int(details.Devices.size()); ++i) {
        details.ChannelStates(i);
        guarded([&] { details.ChannelStatesHtml(i); });
        guarded([&] { details.GetDevice(i); });
    }
    return 0;
}
