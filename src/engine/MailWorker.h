#pragma once
#include "mail/MailSend.h"
#include <functional>
#include <thread>

class QObject;

// Sends mail on a thread of its own, one job at a time, so that a slow or dead mail server never holds
// the window. The job gets the worker's SMTP client and message; Done then runs on the owner's thread.
class TMailWorker
{
public:
    explicit TMailWorker(QObject &Owner);
    // Stops the job under way the way Stop does.
    ~TMailWorker();
    TMailWorker(const TMailWorker &) = delete;
    TMailWorker &operator=(const TMailWorker &) = delete;

    bool Running() const { return thread.joinable(); }
    // Only while no job runs. Job must not throw.
    void Start(std::function<void(TMailObjects &)> Job, std::function<void()> Done);
    // The program is ending: every network wait of the job ends at once, and its Done is never run.
    // Returns when the thread has ended.
    void Stop();

private:
    QObject &owner;
    TMailObjects objects;
    std::thread thread;
    quint64 generation = 0;
};
