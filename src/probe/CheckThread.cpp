#include "probe/CheckThread.h"

#include "platform/Charset.h"
#include "platform/Socket.h"
#include "probe/PlusProbe.h"
#include "report/ItemParser.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t WorkerStackSize = 1024 * 1024; // sanitizers need roomier frames
#else
constexpr size_t WorkerStackSize = 256 * 1024;
#endif

// DE DE: signature; 06 00: the request's size; 0A: send the status report. The sixth byte has no
// meaning to the recording software; zero is the neutral value that a peer either ignores or expects
// of a reserved byte.
constexpr std::array<unsigned char, 6> StatusRequest = {0xDE, 0xDE, 0x06, 0x00, 0x0A, 0x00};
constexpr unsigned char ReplyCode = 19;
constexpr int ReplyHeaderSize = 9;

} // namespace

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

TCheckThread::TCheckThread(
    const QString &Target, int32_t RecordIndex, int32_t TimeOut, bool IsPlus, TCheckResultSink Sink)
    : Target(Target)
    , TimeOut(TimeOut < 0 ? 5000 : TimeOut)
    , IsPlus(IsPlus)
    , Sink(std::move(Sink))
    , Result(std::make_unique<TThResponse>())
{
    Result->RecordIndex = RecordIndex;
}

TCheckThread::~TCheckThread() = default;

void TCheckThread::Start(
    const QString &Target, int32_t RecordIndex, int32_t TimeOut, bool IsPlus, TCheckResultSink Sink)
{
    auto *worker = new TCheckThread(Target, RecordIndex, TimeOut, IsPlus, std::move(Sink));
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, WorkerStackSize);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = EAGAIN;
    // A burst of thousands of checks may briefly run into the thread limit.
    for (int attempt = 0; attempt < 20; ++attempt) {
        rc = pthread_create(&thread, &attributes, &TCheckThread::ThreadMain, worker);
        if (rc != EAGAIN)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pthread_attr_destroy(&attributes);
    if (rc != 0)
        ThreadMain(worker); // no thread to be had: the check still runs and reports, here
}

void *TCheckThread::ThreadMain(void *self)
{
    auto *worker = static_cast<TCheckThread *>(self);
    worker->Execute();
    TCheckResultSink sink = std::move(worker->Sink);
    std::unique_ptr<TThResponse> result = std::move(worker->Result);
    delete worker;
    try {
        if (sink)
            sink(std::move(result));
    } catch (...) {
        // a failed hand-over loses the result, never the process
    }
    return nullptr;
}

void TCheckThread::Execute()
{
    const int32_t index = Result->RecordIndex;
    *Result = RunCheck(Target, TimeOut, IsPlus);
    Result->RecordIndex = index;
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
        const ssize_t received = client.ReceiveOnce(reply.data(), reply.size());
        // Judged on this one receive; what it did not fill reads as zero.
        if (received <= 0 || reply[0] != 0xDE || reply[1] != 0xDE || reply[4] != ReplyCode)
            return;
        Result.ProbeState = psReport;
        const int32_t announced = int32_t(uint32_t(reply[5]) | uint32_t(reply[6]) << 8
            | uint32_t(reply[7]) << 16 | uint32_t(reply[8]) << 24);
        const int32_t room = ReplyBufferSize - ReplyHeaderSize;
        const int32_t size = announced <= 0 ? 0 : (announced > room ? room : announced);
        Result.ReportText
            = DecodeExternalText(reinterpret_cast<const char *>(reply.data()) + ReplyHeaderSize, size);
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
