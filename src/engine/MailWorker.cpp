#include "engine/MailWorker.h"
#include <QMetaObject>
#include <QObject>

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
        QMetaObject::invokeMethod(
            &owner,
            [this, run, done = std::move(done)] {
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
