#include "engine/MailWorker.h"
#include <mutex>
#include <QMetaObject>
#include <QObject>

namespace {
std::mutex handOver;
}

TMailWorker::TMailWorker(QObject &Owner)
    : owner(Owner)
{
}

TMailWorker::~TMailWorker()
{
    Stop();
}

void TMailWorker::Start(std::function<void(TMailObjects &)> Job, std::function<void()> Done)
{
    if (thread.joinable())
        thread.join(); // a job that ended but whose Done has not run yet
    const quint64 run = ++generation;
    thread = std::thread([this, run, job = std::move(Job), done = std::move(Done)]() mutable {
        job(objects);
        // Queued: the owner hears of the end on its own thread, after the job's last write.
        const std::lock_guard posting(handOver);
        QMetaObject::invokeMethod(
            &owner,
            [this, run, done = std::move(done)] {
                // The call was built on the job's thread and queued under Qt's own lock, which the thread
                // sanitizer cannot see; this lock, taken before any capture is read, is one it can.
                {
                    const std::lock_guard received(handOver);
                }
                if (run != generation)
                    return;
                if (thread.joinable())
                    thread.join();
                done();
            },
            Qt::QueuedConnection);
    });
}

void TMailWorker::Stop()
{
    ++generation;
    if (!thread.joinable())
        return;
    objects.Cancel.Trigger();
    thread.join();
}
