#include "probe/CheckThread.h"

#include "platform/Charset.h"
#include "platform/Socket.h"
#include "probe/CheckRunner.h"
#include "probe/PlusProbe.h"
#include "platform/Integers.h"

#include <array>

TProbeTarget SplitTarget(const QString &Target, bool IsPlus)
{
    TProbeTarget address;
    const int32_t defaultPort = IsPlus ? DefaultPlusPort : DefaultProbePort;
    const qsizetype colon = Target.indexOf(QLatin1Char(':'));
    int32_t port = defaultPort;
    if (colon < 0) {
        address.Host = Target.toStdString();
    } else {
        address.Host = Target.left(colon).toStdString();
        port = ReadIntegerDef(Target.mid(colon + 1, 255), defaultPort);
    }
    // No range check: like a 16-bit port field, only the low bits count.
    address.Port = uint16_t(uint32_t(port) & 0xFFFF);
    return address;
}

namespace {

void ProbeOrdinary(const TProbeTarget &Address, int32_t TimeOut, TThResponse &Result)
{
    TTcpSocket client;
    if (!client.Connect(Address.Host, Address.Port, TimeOut / 2))
        return;
    Result.ProbeState = psConnected;
    try {
        if (!client.SendAll(StatusRequest.data(), StatusRequest.size(), ReplyWaitMs))
            return;
        if (!client.WaitReadable(ReplyWaitMs))
            return;
        std::array<unsigned char, ReplyBufferSize> reply{};
        AcceptStatusReply(reply.data(), client.ReceiveOnce(reply.data(), reply.size()), Result);
    } catch (...) {
    }
    client.Close();
}

} // namespace

TThResponse RunCheck(const QString &Target, int32_t TimeOut, bool IsPlus)
{
    TThResponse result;
    if (TimeOut < 0)
        TimeOut = 5000;
    try {
        result.ProbeState = psNoAnswer;
        const TProbeTarget address = SplitTarget(Target, IsPlus);
        if (IsPlus) {
            QByteArray report;
            const int32_t state = RunPlusProbe(address, TimeOut, DeviceListLibraryCandidates(), report);
            result.ProbeState = state;
            if (state == psReport)
                result.ReportText = DecodeExternalText(report);
        } else {
            ProbeOrdinary(address, TimeOut, result);
        }
    } catch (...) {
        // the state reached stands
    }
    return result;
}
