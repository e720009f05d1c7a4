#include "session/ConsoleSession.h"
#include "platform/Errors.h"
#include "platform/Logger.h"
#include "platform/SettingRules.h"
#include "records/SystemListFile.h"
#include <algorithm>
#include <mutex>
#include <QDir>
#include <QFile>
#include <QFileInfo>

static_assert(kHistoryDaysMin == kRetentionMin && kHistoryDaysMax == kRetentionMax
    && kHistoryDaysDefault == kRetentionDefault);

namespace {
// Orders the history writer's queued signal for the thread sanitizer (see History()).
std::mutex historyHandOver;

QString ErrorText(const std::exception &Error)
{
    if (auto *zyr = dynamic_cast<const EZyrError *>(&Error))
        return zyr->Message();
    return QString::fromUtf8(Error.what());
}
} // namespace

TConsoleSession::TConsoleSession(
    const QString &SettingsFolder, const QString &ListFile, const QString &LogFile, QObject *Parent)
    : QObject(Parent)
    , listFile(ListFile)
    , historyFile(QFileInfo(ListFile).absoluteDir().filePath(QStringLiteral("ZYRdenetleyici.db")))
    , logFile(LogFile)
    , settings(SettingsFolder)
{
    Log(QStringLiteral("Program açıldı"));
    engine = std::make_unique<TCheckEngine>(list, settings);
    engine->setObjectName(QStringLiteral("Engine"));
    connect(engine.get(), &TCheckEngine::BusyChanged, this, [this](bool Busy) {
        emit BusyChanged(Busy);
        NotifyTray();
    });
    connect(engine.get(), &TCheckEngine::AlarmDue, this, &TConsoleSession::AlarmDue);
    connect(engine.get(), &TCheckEngine::AlarmsEntered, this, [this](const QStringList &Lines) {
        if (settings.DesktopNotify)
            emit NotificationDue(Lines);
    });
    connect(engine.get(), &TCheckEngine::MailBusyChanged, this, &TConsoleSession::MailBusyChanged);
    connect(engine.get(), &TCheckEngine::TestMailFinished, this, &TConsoleSession::TestMailFinished);
    connect(engine.get(), &TCheckEngine::SendFailed, this, &TConsoleSession::SendFailed);
    connect(engine.get(), &TCheckEngine::CycleResults, this, &TConsoleSession::RecordCycle);
    connect(engine.get(), &TCheckEngine::MarkChanged, this, [this](TRecordId Record) {
        emit MarkChanged(Record);
        NotifyTray();
    });
    connect(engine.get(), &TCheckEngine::MarkEvent, this,
        [this](const QString &Address, TMarkEvent Event, const QString &Note, qint64 Time, qint64 End) {
            if (History())
                history->RecordMark({Address, int(Event), Note, Time, End});
        });
}

TConsoleSession::~TConsoleSession()
{
    End();
}

void TConsoleSession::End()
{
    if (ended)
        return;
    ended = true;
    // A mail under way ends (and logs its end) before the program's last line.
    engine->Shutdown();
    // The writer's last lines come before the program's last one.
    history.reset();
    Log(QStringLiteral("Program kapandı"));
}

QString TConsoleSession::LoadList()
{
    QString failure;
    if (QFile::exists(listFile)) {
        Log(QStringLiteral("Veriler yüklendi"));
        try {
            LoadSystemList(list, listFile);
        } catch (const std::exception &e) {
            failure = ErrorText(e);
        }
    }
    NotifyTray();
    return failure;
}

void TConsoleSession::LoadSettings()
{
    TLiveSettings loaded = settings;
    loaded.LoadSettings();
    SetSettings(loaded);
}

void TConsoleSession::Start(bool HiddenStartPossible)
{
    RestoreMarks();
    // Opened now, with the settings loaded: a new database is seeded with the Period in force.
    History();
    engine->HiddenStartPossible = HiddenStartPossible;
    engine->ApplySettings(true);
}

void TConsoleSession::SetSettings(const TLiveSettings &Value)
{
    if (Value == settings)
        return;
    settings = Value;
    if (history)
        history->SetRetentionDays(settings.HistoryDays);
    emit SettingsChanged();
}

void TConsoleSession::SaveSettings()
{
    settings.SaveSettings();
}

void TConsoleSession::ApplySettings()
{
    engine->ApplySettings(false);
}

TTrayState TConsoleSession::TrayState() const
{
    return ReadTrayState(list, [this](int Position) { return engine->CountsAsAlarm(Position); });
}

QString TConsoleSession::TrayHint() const
{
    return ::TrayHint(TrayState(), engine->CycleHasRun());
}

void TConsoleSession::CheckCycle()
{
    engine->CheckCycle(TCheckOrigin::Menu);
}

void TConsoleSession::CheckRecord(TRecordId Record)
{
    engine->CheckFocused(Record);
}

TRecordId TConsoleSession::AddRecord(const TRecordFields &Fields)
{
    const TRecordId id = engine->AddRecord(Fields);
    ListChanged();
    return id;
}

bool TConsoleSession::ChangeRecord(TRecordId Record, const TRecordFields &Fields)
{
    const int before = list.PositionOf(Record);
    const QString oldAddress = before >= 0 ? list.Cell(before, TSystemRecord::IP) : QString();
    if (!engine->ChangeRecord(Record, Fields))
        return false;
    const int after = list.PositionOf(Record);
    const QString newAddress = after >= 0 ? list.Cell(after, TSystemRecord::IP) : QString();
    // The history follows the system to its new address.
    if (!oldAddress.isEmpty() && !newAddress.isEmpty() && newAddress != oldAddress && History())
        History()->RenameAddress(oldAddress, newAddress);
    ListChanged();
    return true;
}

bool TConsoleSession::DeleteRecord(TRecordId Record)
{
    if (!engine->DeleteRecord(Record))
        return false;
    ListChanged();
    return true;
}

void TConsoleSession::ToggleSelect(TRecordId Record)
{
    if (engine->ToggleSelect(Record))
        ListChanged();
}

void TConsoleSession::SetAllSelect(bool Ticked)
{
    {
        TListUpdate update(list);
        for (int i = 0; i < list.Count(); ++i)
            list.SetCell(i, TSystemRecord::Select, Ticked ? QStringLiteral("1") : QStringLiteral("0"));
    }
    ListChanged();
}

bool TConsoleSession::SortByHeader(int Column)
{
    return !Busy() && list.HeaderClickSort(Column);
}

void TConsoleSession::SetSortOrder(int Column, bool Ascending)
{
    if (Column >= 0)
        list.SetSortOrder(Column, Ascending);
    list.Sort();
}

void TConsoleSession::RemoveAddress(const QString &Address)
{
    list.RemoveAddress(Address);
    ListChanged();
}

void TConsoleSession::SendStatusMails()
{
    engine->SendStatusMails();
}

bool TConsoleSession::SendTestMail(const TLiveSettings &Values)
{
    return engine->SendTestMail(Values);
}

void TConsoleSession::SaveOnClose()
{
    try {
        SaveSystemListOnClose(list, listFile);
    } catch (...) {
        // The window stays open: its rows show what the file would have held.
        TListUpdate update(list);
        for (int i = 0; i < list.Count(); ++i)
            list.SetCellNumber(i, TSystemRecord::State, csNotChecked);
        throw;
    }
}

void TConsoleSession::EndForSignal()
{
    // A mail under way is not waited for: its network waits end at once.
    engine->Shutdown();
    SaveForSessionEnd();
}

void TConsoleSession::SaveForSessionEnd()
{
    try {
        SaveSystemListOnClose(list, listFile);
    } catch (const std::exception &e) {
        LogError(10001, ErrorText(e));
    }
}

THistoryStore *TConsoleSession::History()
{
    if (!history && !ended) {
        // Run on the writer thread: the log, which any thread may use, and a signal queued to this one.
        history = std::make_unique<THistoryStore>(
            historyFile, [](const QString &Line) { Log(Line); }, logFile, settings.Period,
            [this] {
                const std::lock_guard posting(historyHandOver);
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        // The call was built on the writer's thread and queued under Qt's own lock, which
                        // the thread sanitizer cannot see; this lock, taken before the capture is read, is
                        // one it can.
                        {
                            const std::lock_guard received(historyHandOver);
                        }
                        emit HistoryWritten();
                    },
                    Qt::QueuedConnection);
            });
        history->SetRetentionDays(settings.HistoryDays);
    }
    return history.get();
}

void TConsoleSession::RecordCycle(TCheckOrigin Origin, bool Single, const std::vector<TCycleResult> &Results)
{
    if (Results.empty() || !History())
        return;
    THistoryOrigin origin = THistoryOrigin::Single;
    if (!Single)
        origin = Origin == TCheckOrigin::Timer ? THistoryOrigin::Periodic
            : Origin == TCheckOrigin::StartUp  ? THistoryOrigin::StartUp
                                               : THistoryOrigin::Menu;
    std::vector<THistoryResult> results;
    results.reserve(Results.size());
    for (const TCycleResult &r : Results)
        results.push_back({r.Address, r.Name, r.Time, r.Maintenance ? kHistoryMaintenance : r.State, origin,
            std::max(0, settings.Period)});
    history->Record(std::move(results));
}

void TConsoleSession::NotifyTray()
{
    if (!Busy())
        emit TrayStateChanged();
}

void TConsoleSession::ListChanged()
{
    NotifyTray();
    try {
        SaveSystemListOnClose(list, listFile);
    } catch (const std::exception &e) {
        const QString message = ErrorText(e);
        Log(message);
        const bool first = !saveErrorSeen;
        saveErrorSeen = true;
        emit ListSaveFailed(message, first);
    }
}

void TConsoleSession::RestoreMarks()
{
    if (!QFile::exists(historyFile))
        return;
    for (const THistoryMark &mark : ReadStandingMarks(historyFile)) {
        // Every record of that address: the list may hold a system twice.
        for (int i = 0; i < list.Count(); ++i) {
            if (list.Cell(i, TSystemRecord::IP) != mark.Address)
                continue;
            const TRecordId record = list.IdAt(i);
            const TAlarmMark *now = engine->Mark(record);
            std::optional<TAcknowledgement> ack = now ? now->Ack : std::nullopt;
            std::optional<TMaintenance> maintenance = now ? now->Maintenance : std::nullopt;
            if (mark.Kind == THistoryMark::Acknowledged)
                ack = TAcknowledgement{mark.Note, mark.Time};
            else
                maintenance = TMaintenance{mark.Note, mark.Time, mark.End};
            engine->RestoreMark(record, ack, maintenance);
        }
    }
}

std::vector<TRecordId> TConsoleSession::AndMarked(TRecordId Record, bool All) const
{
    std::vector<TRecordId> records{Record};
    for (int i = 0; All && i < list.Count(); ++i)
        if (list.IdAt(i) != Record && list.Cell(i, TSystemRecord::Select).trimmed() == QLatin1String("1"))
            records.push_back(list.IdAt(i));
    return records;
}

bool TConsoleSession::Acknowledge(TRecordId Record, const QString &Note, bool All)
{
    bool any = false;
    for (const TRecordId record : AndMarked(Record, All))
        any = engine->Acknowledge(record, Note) || any;
    return any;
}

bool TConsoleSession::RemoveAcknowledgement(TRecordId Record)
{
    return engine->RemoveAcknowledgement(Record);
}

bool TConsoleSession::StartMaintenance(TRecordId Record, const QString &Note, qint64 End, bool All)
{
    bool any = false;
    for (const TRecordId record : AndMarked(Record, All))
        any = engine->StartMaintenance(record, Note, End) || any;
    return any;
}

bool TConsoleSession::EndMaintenance(TRecordId Record)
{
    return engine->EndMaintenance(Record);
}

QString TConsoleSession::StateMark(TRecordId Record) const
{
    const int position = list.PositionOf(Record);
    return position < 0 ? QString() : engine->StateMark(position);
}
