#include "engine/CheckEngine.h"
#include "engine/MailWorker.h"
#include "engine/TrayState.h"
#include "engine/Verdict.h"
#include "mail/StatusMails.h"
#include "mail/StatusReport.h"
#include "platform/Errors.h"
#include "platform/FileLocations.h"
#include "platform/Logger.h"
#include "platform/SettingRules.h"
#include "platform/UserLocale.h"
#include "probe/CheckThread.h"
#include "store/Settings.h"
#include <algorithm>
#include <climits>
#include <cmath>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

// Workers may finish after the engine is gone (a signal ends the program without waiting for them);
// they post through this gate, which the engine closes when it shuts down.
struct TResultGate
{
    std::mutex Lock;
    QObject *Target = nullptr;
    // The batch that results join until the engine takes it; null when none came since.
    TCheckResultEvent *Open = nullptr;
    bool Posted = false; // Open is in the engine's queue
    // Set for a moment after the engine took a batch: new results wait for the hold's end instead of
    // waking the window thread each, one after another, as a cycle's replies come in.
    bool Hold = false;
};

namespace {

// Longest run of worker starts between two passes of the event loop.
constexpr int StartSliceMs = 10;
// How long results gather after a batch before the next one is handed over: well under a frame.
constexpr int ResultHoldMs = 5;

QString ErrorText(const std::exception &Error)
{
    return QString::fromUtf8(Error.what());
}

// The text of a state (0-7) as the list holds it: shared, so writing a state allocates nothing.
const QString &StateText(int State)
{
    static const QString texts[]
        = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
            QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7")};
    return texts[State];
}

void WriteState(TSystemList &List, int Position, int State)
{
    if (State >= 0 && State < 8)
        List.SetCell(Position, TSystemRecord::State, StateText(State));
    else
        List.SetCellNumber(Position, TSystemRecord::State, State);
}

// A flag cell as the list reads it; the two texts the program writes are told apart without the list's
// number parsing, which asks the locale for "-1".
bool FlagCell(const TSystemList &List, int Position, int Column)
{
    const QString text = List.Cell(Position, Column);
    if (text == QLatin1String("-1"))
        return true;
    if (text == QLatin1String("0"))
        return false;
    return List.CellAsFlag(Position, Column);
}

} // namespace

QString FormatCheckTime(const QDateTime &When)
{
    const QChar date = UserDateSeparator();
    const QChar time = UserTimeSeparator();
    const QDate d = When.date();
    const QTime t = When.time();
    auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(d.day()) + date + two(d.month()) + date
        + QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0')) + QStringLiteral("   ") + two(t.hour())
        + time + two(t.minute()) + time + two(t.second());
}

QString FormatMarkTime(qint64 Seconds)
{
    const QDateTime when = QDateTime::fromSecsSinceEpoch(Seconds);
    const QChar date = UserDateSeparator();
    const QChar time = UserTimeSeparator();
    auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    const QDate d = when.date();
    return two(d.day()) + date + two(d.month()) + date + QString::number(d.year()) + QLatin1Char(' ')
        + two(when.time().hour()) + time + two(when.time().minute());
}

namespace {
qint64 Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

// The check time of a result arriving now; formatted once a second, since a cycle takes thousands.
QString CheckTimeNow()
{
    static qint64 second = -1;
    static QString text;
    if (const qint64 now = QDateTime::currentSecsSinceEpoch(); now != second) {
        second = now;
        text = FormatCheckTime(QDateTime::fromSecsSinceEpoch(now));
    }
    return text;
}
} // namespace

TCheckResultEvent::TCheckResultEvent(std::shared_ptr<TResultGate> Gate)
    : QEvent(Kind)
    , gate(std::move(Gate))
{
}

TCheckResultEvent::~TCheckResultEvent()
{
    // Deleted unread (the engine went first): results must not join it any more. Shutdown has usually
    // closed the gate already, and then nothing is left to do.
    if (!closed) {
        std::lock_guard lock(gate->Lock);
        if (gate->Open == this)
            gate->Open = nullptr;
    }
}

std::vector<TCheckResult> &TCheckResultEvent::Results()
{
    if (!closed) {
        // Also the ordering the thread sanitizer sees for the hand-over: the results were added under this
        // lock, and Qt's queue lock lives in a library it cannot see.
        std::lock_guard lock(gate->Lock);
        if (gate->Open == this) {
            gate->Open = nullptr;
            gate->Posted = false;
        }
        closed = true;
    }
    return results;
}

TCheckEngine::TCheckEngine(TSystemList &List, TLiveSettings &Settings, QObject *Parent)
    : QObject(Parent)
    , List(List)
    , gate(std::make_shared<TResultGate>())
    , settings(Settings)
    , mail(std::make_unique<TMailWorker>(*this))
{
    gate->Target = this;
    PeriodTimer = new QTimer(this);
    PeriodTimer->setObjectName(QStringLiteral("Timer1"));
    connect(PeriodTimer, &QTimer::timeout, this, [this] { CycleThenAlarm(TCheckOrigin::Timer); });
    StartUpTimer = new QTimer(this);
    StartUpTimer->setObjectName(QStringLiteral("TimerDummy"));
    StartUpTimer->setInterval(500);
    connect(StartUpTimer, &QTimer::timeout, this, &TCheckEngine::StartUpCheckDue);
    RetryTimer = new QTimer(this);
    RetryTimer->setObjectName(QStringLiteral("RetryTimer"));
    RetryTimer->setSingleShot(true);
    connect(RetryTimer, &QTimer::timeout, this, [this] {
        // Never beside another busy period: it waits for that one's end.
        if (busy)
            retryAtEnd = true;
        else
            StartRetry();
    });
    MaintenanceTimer = new QTimer(this);
    MaintenanceTimer->setObjectName(QStringLiteral("MaintenanceTimer"));
    MaintenanceTimer->setSingleShot(true);
    MaintenanceTimer->setTimerType(Qt::PreciseTimer);
    connect(MaintenanceTimer, &QTimer::timeout, this, &TCheckEngine::MaintenanceDue);
    SendStatusMailsJob = [](const TLiveSettings &Live, const TSystemList &Records, TMailObjects &Objects) {
        ::SendStatusMails(Live, Records, Objects);
    };
}

TCheckEngine::~TCheckEngine()
{
    Shutdown();
}

void TCheckEngine::Shutdown()
{
    PeriodTimer->stop();
    StartUpTimer->stop();
    RetryTimer->stop();
    MaintenanceTimer->stop();
    mail->Stop();
    holdTimer.stop();
    TCheckResultEvent *held = nullptr;
    {
        std::lock_guard lock(gate->Lock);
        gate->Target = nullptr;
        if (gate->Open && !gate->Posted)
            held = gate->Open; // never posted: nobody else deletes it
        gate->Open = nullptr;
    }
    delete held;
}

int TCheckEngine::Outstanding() const
{
    return run ? int(run->Waiting.size()) : 0;
}

void TCheckEngine::SetBusy(bool Flag)
{
    busy = Flag;
    // Rows keep their places while busy; whatever moved meanwhile takes its place now.
    if (!Flag)
        List.Sort();
    emit BusyChanged(Flag);
}

bool TCheckEngine::CheckCycle(TCheckOrigin Origin)
{
    if (busy)
        return false;
    std::vector<TRecordId> members;
    {
        TListUpdate update(List);
        members.reserve(size_t(List.Count()));
        for (int i = 0; i < List.Count(); ++i) {
            WriteState(List, i, csChecking);
            List.SetCell(i, TSystemRecord::ColDateTime, QString());
            members.push_back(List.IdAt(i));
        }
    }
    if (List.SelectedCount() == 0)
        return false;
    // A periodic cycle checks the unconfirmed alarms too: it takes the place of a retry check due. Another
    // cycle leaves it, with the origin of the cycle that found them.
    if (Origin == TCheckOrigin::Timer) {
        RetryTimer->stop();
        retryAtEnd = false;
    }
    SetBusy(true);
    run.emplace();
    run->Id = ++lastCycle;
    run->Origin = Origin;
    run->Members = std::move(members);
    StartSlice();
    return true;
}

void TCheckEngine::StartRetry()
{
    std::vector<TRecordId> members;
    try {
        for (int i = 0; i < List.Count(); ++i)
            if (List.CellAsNumber(i, TSystemRecord::Select) == 1 && Unconfirmed(i))
                members.push_back(List.IdAt(i));
    } catch (const std::exception &e) {
        LogError(10001, ErrorText(e));
        return;
    }
    if (members.empty())
        return;
    SetBusy(true);
    run.emplace();
    run->Id = ++lastCycle;
    run->Origin = retryOrigin;
    run->Retry = true;
    run->Members = std::move(members);
    StartSlice();
}

void TCheckEngine::ScheduleRetry(TCheckOrigin Origin)
{
    if (RetryTimer->isActive() || retryAtEnd)
        return;
    bool due = false;
    for (int i = 0; i < List.Count() && !due; ++i) {
        try {
            due = List.CellAsNumber(i, TSystemRecord::Select) == 1 && Unconfirmed(i);
        } catch (const std::exception &) {
        }
    }
    if (!due)
        return;
    retryOrigin = Origin;
    RetryTimer->start(RetryIntervalMs >= 0
            ? RetryIntervalMs
            : 1000 * std::clamp(Settings().RetryInterval, kRetryIntervalMin, kRetryIntervalMax));
}

// Starting thousands of workers takes a while: the start goes on from the event loop in slices, so the
// window handles its events (results among them) in between and never freezes for the whole of it.
void TCheckEngine::StartSlice()
{
    if (!run || !run->Starting)
        return;
    const quint64 id = run->Id;
    QElapsedTimer slice;
    slice.start();
    bool more = false;
    try {
        // The view hears of the started rows once per slice, not once per row; the log gets the slice's
        // lines in one write.
        TLogBatch lines;
        TListUpdate batch(List);
        while (run->Next < run->Members.size()) {
            const TRecordId record = run->Members[run->Next++];
            const int position = List.PositionOf(record);
            if (position < 0 || List.CellAsNumber(position, TSystemRecord::Select) != 1)
                continue;
            StartCheck(position, record);
            if (slice.elapsed() >= StartSliceMs && run->Next < run->Members.size()) {
                more = true;
                break;
            }
        }
    } catch (const std::exception &e) {
        // Workers already started still report; their results are applied when they arrive.
        LogError(10001, ErrorText(e));
        run.reset();
        EndBusy();
        return;
    }
    if (more) {
        QTimer::singleShot(0, this, [this, id] {
            if (run && run->Id == id)
                StartSlice();
        });
        return;
    }
    run->Starting = false;
    MaybeFinishCycle();
}

void TCheckEngine::StartCheck(int Position, TRecordId Record)
{
    WriteState(List, Position, csChecking);
    const QString target = List.Cell(Position, TSystemRecord::IP);
    Launch(target, FlagCell(List, Position, TSystemRecord::ColZYRplus), Record);
    Log(QStringLiteral("Denetleme başladı. IP: ") + target);
}

void TCheckEngine::Launch(const QString &Target, bool IsPlus, TRecordId Record)
{
    // The result names its cycle and record, never a row: rows may move or go before it arrives.
    const quint64 cycle = run->Id;
    std::shared_ptr<TResultGate> to = gate;
    // A text of the worker's own: the list's cell may be replaced while the check runs.
    const QString target(Target.constData(), Target.size());
    TCheckThread::Start(target, Settings().TimeOut, IsPlus,
        [to, cycle, Record, target, IsPlus](std::unique_ptr<TThResponse> r) {
            TCheckResult result{std::move(r), cycle, Record, target, IsPlus, {}, {}};
            // Reading the report (a device list is JSON) is the costliest step of a result: done here, on
            // the runner's thread, it leaves the window thread only the writes.
            if (result.Response && result.Response->ProbeState == psReport) {
                try {
                    result.Verdict = ReadReportVerdict(result.Response->ReportText, IsPlus);
                } catch (...) {
                    result.VerdictError = std::current_exception();
                }
            }
            std::lock_guard lock(to->Lock);
            if (!to->Target)
                return;
            if (!to->Open)
                to->Open = new TCheckResultEvent(to);
            to->Open->results.push_back(std::move(result));
            if (!to->Posted && !to->Hold) {
                to->Posted = true;
                QCoreApplication::postEvent(to->Target, to->Open);
            }
        });
    // Counted once started: a start that fails leaves nothing to wait for. The result comes through the
    // event loop, after this.
    run->Waiting.insert(Record);
}

bool TCheckEngine::CheckFocused(TRecordId Record)
{
    const int position = List.PositionOf(Record);
    if (position < 0 || busy)
        return false;
    SetBusy(true);
    run.emplace();
    run->Id = ++lastCycle;
    run->Single = true;
    run->Members = {Record};
    run->Next = 1;
    try {
        WriteState(List, position, csChecking);
        const QString target = List.Cell(position, TSystemRecord::IP);
        Log(QStringLiteral("Denetleme başladı. IP: ") + target);
        Launch(target, List.CellAsFlag(position, TSystemRecord::ColZYRplus), Record);
    } catch (...) {
        run.reset();
        EndBusy();
        throw;
    }
    run->Starting = false;
    return true;
}

void TCheckEngine::customEvent(QEvent *Event)
{
    {
        // A result event is built on the runner's thread and posted under this lock, and Qt's queue lock
        // lives in a library the thread sanitizer cannot see: taken before anything of the event is read,
        // this lock is the ordering it sees.
        std::lock_guard lock(gate->Lock);
    }
    if (Event->type() != TCheckResultEvent::Kind) {
        QObject::customEvent(Event);
        return;
    }
    std::vector<TCheckResult> &results = static_cast<TCheckResultEvent *>(Event)->Results();
    {
        std::lock_guard lock(gate->Lock);
        gate->Hold = true;
    }
    holdTimer.start(ResultHoldMs, this);
    OnCheckResults(results);
}

void TCheckEngine::timerEvent(QTimerEvent *Event)
{
    if (Event->timerId() != holdTimer.timerId()) {
        QObject::timerEvent(Event);
        return;
    }
    // The hold ends: what came meanwhile is handed over now; with nothing, the next result is at once.
    holdTimer.stop();
    std::lock_guard lock(gate->Lock);
    gate->Hold = false;
    if (gate->Open && !gate->Posted && gate->Target) {
        gate->Posted = true;
        QCoreApplication::postEvent(gate->Target, gate->Open);
    }
}

void TCheckEngine::OnCheckResults(std::vector<TCheckResult> &Results)
{
    // The results' log lines go out in one write, and before the end of a cycle, which runs outside the
    // batch as it did after a single result.
    size_t next = 0;
    while (next < Results.size()) {
        bool finish = false;
        {
            TLogBatch lines;
            while (next < Results.size() && !finish)
                finish = OnCheckResult(Results[next++]) && run && !run->Starting && run->Waiting.empty();
        }
        if (finish)
            FinishCycle();
    }
}

// True when the result counted towards the end of the cycle under way.
bool TCheckEngine::OnCheckResult(const TCheckResult &Event)
{
    bool counted = false;
    {
        // Results arrive as events on the engine's own thread: nothing here is shared with the runner.
        if (!Event.Response)
            return false;
        // Only a result of the cycle under way counts towards its end; one of an ended cycle (late, after
        // an error while starting) is still applied to its record. A record deleted meanwhile gets nothing.
        counted = run && run->Id == Event.Cycle && run->Waiting.erase(Event.Record) > 0;
        const int position = List.PositionOf(Event.Record);
        if (position >= 0) {
            // The results of one event-loop pass reach the view as one change, not one repaint request
            // per cell.
            if (!resultBatch) {
                resultBatch = true;
                List.BeginUpdate();
                QTimer::singleShot(0, this, &TCheckEngine::EndResultBatch);
            }
            if (ChecksAsStarted(position, Event)) {
                const int state = ApplyResult(position, Event);
                if (state >= 0 && CountResult(position, state) && counted && run->Retry
                    && CountsAsAlarm(position))
                    ++run->NewlyConfirmed;
                if (counted && state >= 0)
                    run->Taken.push_back(
                        {List.Cell(position, TSystemRecord::IP), List.Cell(position, TSystemRecord::Name),
                            QDateTime::currentSecsSinceEpoch(), state, InMaintenance(Event.Record)});
            } else if (counted) {
                // The record was edited to name another system (or kind) while its check ran: that answer
                // says nothing about it. It is checked again before its cycle ends, so the cycle's verdict,
                // alarm and mails are about the record as the operator now sees it.
                try {
                    StartCheck(position, Event.Record);
                } catch (const std::exception &e) {
                    LogError(10002, ErrorText(e));
                }
            }
            // A late result of an ended cycle for an edited record is dropped: no busy period is left to
            // check it again in.
        }
    }
    return counted;
}

// Whether the record still has the address and kind its check was started with. Only these decide what
// was probed; a changed device count is read when the result is judged.
bool TCheckEngine::ChecksAsStarted(int Position, const TCheckResult &Event) const
{
    if (List.Cell(Position, TSystemRecord::IP) != Event.Target)
        return false;
    try {
        return FlagCell(List, Position, TSystemRecord::ColZYRplus) == Event.IsPlus;
    } catch (const std::exception &) {
        return true; // no edit makes such a cell: judging the result reports it
    }
}

int TCheckEngine::ApplyResult(int Position, const TCheckResult &Checked)
{
    try {
        const TThResponse &Result = *Checked.Response;
        const int i = Position;
        // The time and the report first: they stand even when a read of the verdict raises.
        List.SetCell(i, TSystemRecord::ColDateTime, CheckTimeNow());
        if (Result.ProbeState == psReport)
            List.SetCell(i, TSystemRecord::Details, Result.ReportText);
        int written = 0;
        WriteResultState(
            Result.ProbeState,
            [&] {
                // The record's flag is read (and may raise) as ever; it names the kind the runner read.
                const bool plus = FlagCell(List, i, TSystemRecord::ColZYRplus);
                if (plus != Checked.IsPlus)
                    return ReadReportVerdict(List.Cell(i, TSystemRecord::Details), plus);
                if (Checked.VerdictError)
                    std::rethrow_exception(Checked.VerdictError);
                return Checked.Verdict;
            },
            [&] { return List.CellAsNumber(i, TSystemRecord::DeviceCnt); },
            [&](int State) {
                WriteState(List, i, State);
                written = State;
            });
        Log(QStringLiteral("Denetleme bitti. IP: ") + List.Cell(i, TSystemRecord::IP)
            + QStringLiteral(" Sonuç: ") + StateDescription(written));
        return written;
    } catch (const std::exception &e) {
        LogError(10002, ErrorText(e));
    }
    return -1;
}

void TCheckEngine::EndResultBatch()
{
    if (!resultBatch)
        return;
    resultBatch = false;
    List.EndUpdate();
}

void TCheckEngine::MaybeFinishCycle()
{
    if (run && !run->Starting && run->Waiting.empty())
        FinishCycle();
}

void TCheckEngine::FinishCycle()
{
    EndResultBatch();
    const TRun done = std::move(*run);
    run.reset();
    emit CycleResults(done.Origin, done.Single, done.Taken);
    if (!done.Single && !done.Retry)
        cycleHasRun = true;
    ScheduleRetry(done.Single ? TCheckOrigin::Menu : done.Origin);
    // A retry check that confirms an alarm that counts ends like the periodic cycle that found it.
    const bool periodicEnd
        = !done.Single && done.Origin == TCheckOrigin::Timer && (!done.Retry || done.NewlyConfirmed > 0);
    if (done.Retry && periodicEnd)
        alarmAtEnd = true;
    std::vector<TRecordId> members = done.Members;
    if (done.Retry) {
        members.clear();
        for (int i = 0; i < List.Count(); ++i)
            members.push_back(List.IdAt(i));
    }
    if (periodicEnd) {
        // Told at once, like the alarm: a slow mail server does not delay it.
        const QStringList entered
            = alarmEntries.Update(List, [this](int Position) { return CountsAsAlarm(Position); });
        if (!entered.isEmpty())
            emit AlarmsEntered(entered);
        try {
            int alarms = 0;
            for (const TRecordId record : members) {
                const int i = List.PositionOf(record);
                if (i >= 0 && List.CellAsNumber(i, TSystemRecord::Select) == 1
                    && IsAlarmState(int(List.CellAsNumber(i, TSystemRecord::State))) && CountsAsAlarm(i))
                    ++alarms;
            }
            const int rule = Settings().MailAfterCtrl;
            if (rule == 0 || (rule == 1 && alarms >= 1)) {
                // The alarm is about the checks just ended; it does not wait for a slow mail server.
                if (alarmAtEnd) {
                    alarmAtEnd = false;
                    PlayAlarm();
                }
                // The console stays busy until the mails are out.
                QueueStatusMails({true, members});
                return;
            }
        } catch (const std::exception &e) {
            LogError(10001, ErrorText(e));
        }
    }
    EndBusy();
}

void TCheckEngine::EndBusy()
{
    SetBusy(false);
    emit CycleFinished();
    if (alarmAtEnd) {
        alarmAtEnd = false;
        PlayAlarm();
    }
    // What was confirmed while busy, in the order the nested waits of old let it happen.
    if (applyAtEnd) {
        applyAtEnd = false;
        ApplySettings(false);
    }
    if (sendAtEnd && !busy) {
        sendAtEnd = false;
        SendStatusMails();
    }
    if (retryAtEnd && !busy) {
        retryAtEnd = false;
        StartRetry();
    }
}

void TCheckEngine::CycleThenAlarm(TCheckOrigin Origin)
{
    // A tick while busy starts nothing but still sounds on the states as they are; otherwise the alarm
    // waits for the end of the cycle it starts.
    if (busy) {
        PlayAlarm();
        return;
    }
    alarmAtEnd = true;
    if (!CheckCycle(Origin)) {
        alarmAtEnd = false;
        PlayAlarm();
    }
}

void TCheckEngine::PlayAlarm()
{
    if (!Settings().BeepAlarm)
        return;
    bool down = false;
    for (int i = 0; i < List.Count() && !down; ++i)
        down = List.Cell(i, TSystemRecord::Select).trimmed() == QLatin1String("1")
            && List.Cell(i, TSystemRecord::State).trimmed() == QLatin1String("1") && CountsAsAlarm(i);
    if (!down)
        return;
    const QString wav
        = QDir::current().absoluteFilePath(FileLocations().DataFile(QStringLiteral("Alarm.wav")));
    emit AlarmDue(QFile::exists(wav) ? wav : QString());
}

void TCheckEngine::ApplySettings(bool AtStart)
{
    if (busy) {
        if (!AtStart)
            applyAtEnd = true;
        return;
    }
    PeriodTimer->stop();
    PendingStartCheck = false;
    TLiveSettings &live = Settings();
    if (AtStart) {
        ShowOnStart = live.ShowMainOnStart;
        const bool hidden = !live.ShowMainOnStart && HiddenStartPossible;
        if (!hidden || !live.CheckOnStart)
            PendingStartCheck = live.CheckOnStart;
        else
            CycleThenAlarm(TCheckOrigin::StartUp);
    }
    if (const int interval = PeriodInterval(live.Period); interval > 0) {
        PeriodTimer->setInterval(interval);
        PeriodTimer->start();
    }
}

void TCheckEngine::FormActivate()
{
    if (PendingStartCheck)
        StartUpTimer->start();
    PendingStartCheck = false;
}

void TCheckEngine::StartUpCheckDue()
{
    StartUpTimer->stop();
    CycleThenAlarm(TCheckOrigin::StartUp);
}

void TCheckEngine::SendStatusMails()
{
    if (busy) {
        sendAtEnd = true;
        return;
    }
    SetBusy(true);
    QueueStatusMails({false, {}});
}

void TCheckEngine::QueueStatusMails(TDueMails Due)
{
    // One mail at a time: status mails due while a test mail is out wait for it.
    if (mailOut == TMailKind::Test) {
        dueMails = std::move(Due);
        return;
    }
    StartStatusMails(Due);
}

void TCheckEngine::StartStatusMails(const TDueMails &Due)
{
    // The mail thread works on copies taken now; the window may change the originals meanwhile.
    auto live = std::make_shared<const TLiveSettings>(Settings());
    std::vector<TSystemRecord> rows;
    rows.reserve(size_t(List.Count()));
    const std::unordered_set<TRecordId> members(Due.Members.begin(), Due.Members.end());
    for (int i = 0; i < List.Count(); ++i) {
        if (Due.FromCycle && !members.count(List.IdAt(i)))
            continue;
        // Cells of the mail thread's own, shared with no cell that the window may replace meanwhile.
        TSystemRecord row = List.Record(i);
        for (QString &cell : row.Cells)
            cell = QString(cell.constData(), cell.size());
        // The state's mark rides in a cell past the list's own, in this copy only.
        if (const QString mark = StateMark(i); !mark.isEmpty())
            row.SetCell(kStateMarkCell, mark);
        rows.push_back(std::move(row));
    }
    auto records = std::make_shared<TSystemList>();
    records->ReplaceAll(std::move(rows));

    mailOut = TMailKind::Status;
    emit MailBusyChanged(true);
    struct TOutcome
    {
        bool Failed = false;
        QString Error;
    };
    auto outcome = std::make_shared<TOutcome>();
    const bool fromCycle = Due.FromCycle;
    mail->Start(
        [job = SendStatusMailsJob, live, records, outcome](TMailObjects &Objects) {
            try {
                if (job)
                    job(*live, *records, Objects);
            } catch (const std::exception &e) {
                outcome->Failed = true;
                outcome->Error = ErrorText(e);
            }
        },
        [this, fromCycle, outcome] { StatusMailsDone(fromCycle, outcome->Failed, outcome->Error); });
}

void TCheckEngine::StatusMailsDone(bool FromCycle, bool Failed, const QString &Error)
{
    mailOut = TMailKind::None;
    emit MailBusyChanged(false);
    if (FromCycle) {
        if (Failed)
            LogError(10001, Error);
        EndBusy();
        return;
    }
    EndBusy();
    if (Failed)
        emit SendFailed(Error);
}

bool TCheckEngine::SendTestMail(const TLiveSettings &Source)
{
    if (mailOut != TMailKind::None)
        return false;
    auto live = std::make_shared<const TLiveSettings>(Source);
    mailOut = TMailKind::Test;
    emit MailBusyChanged(true);
    struct TOutcome
    {
        bool Sent = false;
        QString Failure;
    };
    auto outcome = std::make_shared<TOutcome>();
    mail->Start(
        [live, outcome](TMailObjects &Objects) {
            outcome->Sent = ::SendTestMail(*live, TestMailText(), outcome->Failure, Objects);
        },
        [this, outcome] {
            mailOut = TMailKind::None;
            emit MailBusyChanged(false);
            emit TestMailFinished(outcome->Sent, outcome->Failure);
            if (dueMails) {
                const TDueMails due = std::move(*dueMails);
                dueMails.reset();
                StartStatusMails(due);
            }
        });
    return true;
}

void TCheckEngine::ReSort()
{
    if (!busy)
        List.Sort();
}

TRecordId TCheckEngine::AddRecord(const TRecordFields &Fields)
{
    EndResultBatch();
    TSystemRecord record;
    record.Cells = QStringList(TSystemRecord::ColumnCount, QString());
    record.Cells[TSystemRecord::Select] = QStringLiteral("1");
    record.Cells[TSystemRecord::Name] = Fields.Name;
    record.Cells[TSystemRecord::IP] = Fields.IP;
    record.Cells[TSystemRecord::Email] = Fields.Email;
    record.Cells[TSystemRecord::DeviceCnt] = Fields.DeviceCnt;
    record.Cells[TSystemRecord::State] = QStringLiteral("0");
    record.Cells[TSystemRecord::ColZYRplus] = Fields.ZYRplus ? QStringLiteral("-1") : QStringLiteral("0");
    TRecordId id = 0;
    {
        TListUpdate update(List);
        id = List.IdAt(List.Add(record));
        LogFmt("\"%s\" isimli kayıt eklendi", Fields.Name);
    }
    ReSort();
    return id;
}

bool TCheckEngine::ChangeRecord(TRecordId Record, const TRecordFields &Fields)
{
    const int position = List.PositionOf(Record);
    if (position < 0)
        return false;
    {
        TListUpdate update(List);
        List.SetCell(position, TSystemRecord::Name, Fields.Name);
        List.SetCell(position, TSystemRecord::IP, Fields.IP);
        List.SetCell(position, TSystemRecord::DeviceCnt, Fields.DeviceCnt);
        List.SetCell(position, TSystemRecord::Email, Fields.Email);
        List.SetCellFlag(position, TSystemRecord::ColZYRplus, Fields.ZYRplus);
    }
    ReSort();
    LogFmt("\"%s\" isimli kayıt güncellendi", Fields.Name);
    return true;
}

bool TCheckEngine::DeleteRecord(TRecordId Record)
{
    const int position = List.PositionOf(Record);
    if (position < 0)
        return false;
    EndResultBatch();
    const QString name = List.Cell(position, TSystemRecord::Name);
    // What stood for the system is over for the history too, or it would come back at the next start.
    if (const auto it = marks.find(Record); it != marks.end()) {
        const QString address = List.Cell(position, TSystemRecord::IP);
        if (it->second.Ack)
            emit MarkEvent(address, TMarkEvent::AckRemoved, QString(), Now(), 0);
        if (it->second.Maintenance)
            emit MarkEvent(address, TMarkEvent::MaintenanceEnded, QString(), Now(), 0);
        marks.erase(it);
        ArmMaintenanceTimer();
    }
    List.Delete(position);
    LogFmt("\"%s\" isimli kayıt silindi", name);
    return true;
}

bool TCheckEngine::ToggleSelect(TRecordId Record)
{
    const int position = List.PositionOf(Record);
    if (position < 0)
        return false;
    const auto value
        = static_cast<long long>(std::llround(List.CellAsNumber(position, TSystemRecord::Select)));
    List.SetCellNumber(position, TSystemRecord::Select, 1 ^ value);
    return true;
}

int TCheckEngine::AlarmAfter() const
{
    return std::clamp(settings.AlarmAfter, kAlarmAfterMin, kAlarmAfterMax);
}

const TAlarmMark *TCheckEngine::Mark(TRecordId Record) const
{
    const auto it = marks.find(Record);
    return it == marks.end() ? nullptr : &it->second;
}

bool TCheckEngine::Unconfirmed(int Position) const
{
    // With 1 every alarm is confirmed at once, also one whose state was written without a result.
    if (AlarmAfter() <= 1 || !IsAlarmState(RowStateCode(List, Position)))
        return false;
    const TAlarmMark *mark = Mark(List.IdAt(Position));
    return (mark ? mark->Count : 0) < AlarmAfter();
}

bool TCheckEngine::InMaintenance(TRecordId Record) const
{
    const TAlarmMark *mark = Mark(Record);
    return mark && mark->Maintenance;
}

bool TCheckEngine::CountsAsAlarm(int Position) const
{
    if (!IsAlarmState(RowStateCode(List, Position)) || Unconfirmed(Position))
        return false;
    const TAlarmMark *mark = Mark(List.IdAt(Position));
    return !mark || (!mark->Ack && !mark->Maintenance);
}

void TCheckEngine::TellMark(TRecordId Record)
{
    // A record with nothing left to tell takes no room.
    if (const auto it = marks.find(Record);
        it != marks.end() && it->second.Count == 0 && !it->second.Ack && !it->second.Maintenance)
        marks.erase(it);
    emit MarkChanged(Record);
}

bool TCheckEngine::CountResult(int Position, int State)
{
    const TRecordId record = List.IdAt(Position);
    const QString address = List.Cell(Position, TSystemRecord::IP);
    bool confirmed = false;
    if (IsAlarmState(State)) {
        TAlarmMark &mark = marks[record];
        ++mark.Count;
        const int needed = AlarmAfter();
        if (needed > 1 && mark.Count < needed)
            LogFmt("Alarm doğrulanıyor (%d/%d). IP: %s", mark.Count, needed, address);
        else if (mark.Count == needed) {
            confirmed = true;
            if (needed > 1)
                LogFmt("Alarm doğrulandı. IP: %s", address);
        }
    } else if (State == csWorking || State == csWorkingReport) {
        const auto it = marks.find(record);
        if (it == marks.end())
            return false;
        it->second.Count = 0;
        if (it->second.Ack) {
            it->second.Ack.reset();
            LogFmt("Alarm onayı kalktı, sistem düzeldi. IP: %s", address);
            emit MarkEvent(address, TMarkEvent::AckFell, QString(), Now(), 0);
        }
    } else {
        return false;
    }
    TellMark(record);
    return confirmed;
}

bool TCheckEngine::Acknowledge(TRecordId Record, const QString &Note)
{
    const int position = List.PositionOf(Record);
    if (position < 0 || !IsAlarmState(RowStateCode(List, position)))
        return false;
    TAlarmMark &mark = marks[Record];
    if (mark.Ack) {
        TellMark(Record);
        return false;
    }
    const QString address = List.Cell(position, TSystemRecord::IP);
    mark.Ack = TAcknowledgement{Note, Now()};
    LogFmt("Alarm onaylandı. IP: %s Not: %s", address, Note);
    emit MarkEvent(address, TMarkEvent::Acknowledged, Note, mark.Ack->Time, 0);
    TellMark(Record);
    return true;
}

bool TCheckEngine::RemoveAcknowledgement(TRecordId Record)
{
    const int position = List.PositionOf(Record);
    const auto it = marks.find(Record);
    if (position < 0 || it == marks.end() || !it->second.Ack)
        return false;
    it->second.Ack.reset();
    const QString address = List.Cell(position, TSystemRecord::IP);
    LogFmt("Alarm onayı kaldırıldı. IP: %s", address);
    emit MarkEvent(address, TMarkEvent::AckRemoved, QString(), Now(), 0);
    TellMark(Record);
    return true;
}

bool TCheckEngine::StartMaintenance(TRecordId Record, const QString &Note, qint64 End)
{
    const int position = List.PositionOf(Record);
    const qint64 now = Now();
    if (position < 0 || End <= now)
        return false;
    const QString address = List.Cell(position, TSystemRecord::IP);
    marks[Record].Maintenance = TMaintenance{Note, now, End};
    LogFmt("Bakım başladı. IP: %s Bitiş: %s Not: %s", address, FormatMarkTime(End), Note);
    emit MarkEvent(address, TMarkEvent::MaintenanceStarted, Note, now, End);
    TellMark(Record);
    ArmMaintenanceTimer();
    return true;
}

bool TCheckEngine::EndMaintenance(TRecordId Record)
{
    const int position = List.PositionOf(Record);
    const auto it = marks.find(Record);
    if (position < 0 || it == marks.end() || !it->second.Maintenance)
        return false;
    it->second.Maintenance.reset();
    const QString address = List.Cell(position, TSystemRecord::IP);
    LogFmt("Bakım bitti. IP: %s", address);
    emit MarkEvent(address, TMarkEvent::MaintenanceEnded, QString(), Now(), 0);
    TellMark(Record);
    ArmMaintenanceTimer();
    return true;
}

void TCheckEngine::RestoreMark(TRecordId Record, const std::optional<TAcknowledgement> &Ack,
    const std::optional<TMaintenance> &Maintenance)
{
    if (List.PositionOf(Record) < 0 || (!Ack && !Maintenance))
        return;
    TAlarmMark &mark = marks[Record];
    mark.Ack = Ack;
    mark.Maintenance = Maintenance;
    TellMark(Record);
    // One that ended while the program was closed ends now, with its line.
    if (Maintenance && Maintenance->End <= Now())
        EndMaintenance(Record);
    else
        ArmMaintenanceTimer();
}

void TCheckEngine::ArmMaintenanceTimer()
{
    qint64 next = 0;
    for (const auto &[record, mark] : marks)
        if (mark.Maintenance && (next == 0 || mark.Maintenance->End < next))
            next = mark.Maintenance->End;
    if (next == 0) {
        MaintenanceTimer->stop();
        return;
    }
    // A wait beyond the timer's range is taken in steps.
    const qint64 ms = std::clamp<qint64>(next * 1000 - QDateTime::currentMSecsSinceEpoch(), 0, INT_MAX);
    MaintenanceTimer->start(int(ms));
}

void TCheckEngine::MaintenanceDue()
{
    const qint64 now = Now();
    std::vector<TRecordId> ended;
    for (const auto &[record, mark] : marks)
        if (mark.Maintenance && mark.Maintenance->End <= now)
            ended.push_back(record);
    for (const TRecordId record : ended)
        EndMaintenance(record);
    ArmMaintenanceTimer();
}

QString TCheckEngine::StateMark(int Position) const
{
    const TAlarmMark *mark = Mark(List.IdAt(Position));
    if (mark && mark->Maintenance)
        return QStringLiteral(" (bakımda)");
    if (mark && mark->Ack && IsAlarmState(RowStateCode(List, Position)))
        return QStringLiteral(" (onaylandı: ") + mark->Ack->Note + QLatin1Char(')');
    if (Unconfirmed(Position))
        return QStringLiteral(" (doğrulanıyor)");
    return QString();
}
