// The operator's list commands on the session: what each does to the records, the log and the list file,
// which every change reaches at once.
#include "platform/Errors.h"
#include "SessionTestSupport.h"
#include <atomic>
#include <QThread>

namespace {

TSystemRecord Record(const QString &Name, const QString &State = QStringLiteral("0"),
    const QString &Email = QString(), const QString &Plus = QStringLiteral("0"),
    const QString &Details = QString())
{
    TSystemRecord record;
    record.Cells = {QStringLiteral("1"), Name, QStringLiteral("127.0.0.1"), Email, QStringLiteral("2"), State,
        Details, QStringLiteral("08.06.2012   17:46:00"), Plus};
    return record;
}

using SessionCommands = SessionTest;

TEST_F(SessionCommands, AddAppendsAMarkedRecordLogsItAndSavesAtOnce)
{
    List().Add(Record(QStringLiteral("Eski"), QStringLiteral("3")));
    const TRecordId id = session->AddRecord({QStringLiteral("Şube Ğ"), QStringLiteral("127.0.0.5"),
        QStringLiteral("0"), QStringLiteral("a@x.com"), true});
    ASSERT_EQ(List().Count(), 2);
    const int added = List().PositionOf(id);
    ASSERT_GE(added, 0);
    const QStringList expected{QStringLiteral("1"), QStringLiteral("Şube Ğ"), QStringLiteral("127.0.0.5"),
        QStringLiteral("a@x.com"), QStringLiteral("0"), QStringLiteral("0"), QString(), QString(),
        QStringLiteral("-1")};
    EXPECT_EQ(List().Record(added).Cells, expected);
    EXPECT_EQ(LogLines().last(), QStringLiteral("\"Şube Ğ\" isimli kayıt eklendi"));

    // The file holds both rows as a close writes them, while the list keeps the old row's state.
    const auto saved = Saved();
    ASSERT_EQ(saved->Count(), 2);
    EXPECT_EQ(saved->Record(added).Cells, expected);
    EXPECT_EQ(saved->Cell(1 - added, TSystemRecord::State), QStringLiteral("0"));
    EXPECT_EQ(List().Cell(1 - added, TSystemRecord::State), QStringLiteral("3"));
}

TEST_F(SessionCommands, AddedRecordTakesItsSortedPlace)
{
    session->SetSortOrder(TSystemRecord::Name, true);
    List().Add(Record(QStringLiteral("A")));
    List().Add(Record(QStringLiteral("C")));
    session->AddRecord({QStringLiteral("B"), QStringLiteral("h"), QStringLiteral("0"), QString(), false});
    EXPECT_EQ(Names(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    EXPECT_EQ(List().Cell(1, TSystemRecord::ColDateTime), QString());
    EXPECT_EQ(Saved()->Cell(1, TSystemRecord::Name), QStringLiteral("B"));
}

TEST_F(SessionCommands, ChangeKeepsStateReportAndTimeUntilTheNextCheckAndSaves)
{
    List().Add(Record(QStringLiteral("Merkez"), QStringLiteral("6"), QStringLiteral("gone@x.com,A@x.com"),
        QStringLiteral("-1"), QStringLiteral("rapor")));
    const TRecordId id = List().IdAt(0);
    EXPECT_TRUE(session->ChangeRecord(id,
        {QStringLiteral("Merkez 2"), QStringLiteral("127.0.0.9"), QStringLiteral("3"),
            QStringLiteral("a@x.com"), false}));
    const QStringList after = List().Record(0).Cells;
    EXPECT_EQ(after,
        (QStringList{QStringLiteral("1"), QStringLiteral("Merkez 2"), QStringLiteral("127.0.0.9"),
            QStringLiteral("a@x.com"), QStringLiteral("3"), QStringLiteral("6"), QStringLiteral("rapor"),
            QStringLiteral("08.06.2012   17:46:00"), QStringLiteral("0")}));
    EXPECT_EQ(LogLines().last(), QStringLiteral("\"Merkez 2\" isimli kayıt güncellendi"));
    EXPECT_EQ(Saved()->Cell(0, TSystemRecord::Name), QStringLiteral("Merkez 2"));

    // A record deleted meanwhile is changed nowhere: no log line, no write.
    const QStringList log = LogLines();
    ASSERT_TRUE(session->DeleteRecord(id));
    QFile::remove(QStringLiteral("ZYRdenetleyici.dat"));
    EXPECT_FALSE(session->ChangeRecord(
        id, {QStringLiteral("X"), QStringLiteral("h"), QStringLiteral("0"), {}, false}));
    EXPECT_EQ(LogLines().size(), log.size() + 1);
    EXPECT_FALSE(QFile::exists(QStringLiteral("ZYRdenetleyici.dat")));
}

TEST_F(SessionCommands, DeleteLogsAndSaves)
{
    List().Add(Record(QStringLiteral("Merkez")));
    List().Add(Record(QStringLiteral("Şube")));
    const TRecordId id = List().IdAt(0);
    EXPECT_TRUE(session->DeleteRecord(id));
    EXPECT_EQ(Names(), QStringList{QStringLiteral("Şube")});
    EXPECT_EQ(LogLines().last(), QStringLiteral("\"Merkez\" isimli kayıt silindi"));
    const auto saved = Saved();
    ASSERT_EQ(saved->Count(), 1);
    EXPECT_EQ(saved->Cell(0, TSystemRecord::Name), QStringLiteral("Şube"));
    EXPECT_FALSE(session->DeleteRecord(id));
    EXPECT_EQ(LogCount(QStringLiteral("isimli kayıt silindi")), 1);
}

TEST_F(SessionCommands, SelectTogglesAndTheHeaderSetsEveryRowAndEachSaves)
{
    List().Add(Record(QStringLiteral("A")));
    List().Add(Record(QStringLiteral("B")));
    List().SetCell(1, TSystemRecord::Select, QStringLiteral("0"));
    session->ToggleSelect(List().IdAt(0));
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("0"));
    EXPECT_EQ(Saved()->Cell(0, TSystemRecord::Select), QStringLiteral("0"));
    session->ToggleSelect(List().IdAt(0));
    EXPECT_EQ(Saved()->Cell(0, TSystemRecord::Select), QStringLiteral("1"));

    for (const bool ticked : {true, false}) {
        session->SetAllSelect(ticked);
        const QString mark = ticked ? QStringLiteral("1") : QStringLiteral("0");
        const auto saved = Saved();
        for (int row = 0; row < 2; ++row) {
            EXPECT_EQ(List().Cell(row, TSystemRecord::Select), mark) << row;
            EXPECT_EQ(saved->Cell(row, TSystemRecord::Select), mark) << row;
        }
    }

    // A mark that is no number is an error, and nothing is written.
    QFile::remove(QStringLiteral("ZYRdenetleyici.dat"));
    List().SetCell(0, TSystemRecord::Select, QStringLiteral("x"));
    EXPECT_THROW(session->ToggleSelect(List().IdAt(0)), EZyrError);
    EXPECT_FALSE(QFile::exists(QStringLiteral("ZYRdenetleyici.dat")));

    // The header of the marks sorts nothing; the others sort by their texts, a second click reversing.
    EXPECT_FALSE(session->SortByHeader(TSystemRecord::Select));
    List().SetCell(0, TSystemRecord::DeviceCnt, QStringLiteral("9"));
    List().SetCell(1, TSystemRecord::DeviceCnt, QStringLiteral("10"));
    EXPECT_TRUE(session->SortByHeader(TSystemRecord::DeviceCnt));
    EXPECT_EQ(Names(), (QStringList{QStringLiteral("B"), QStringLiteral("A")})); // texts: "10" < "9"
    EXPECT_TRUE(session->SortByHeader(TSystemRecord::DeviceCnt));
    EXPECT_EQ(Names(), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
}

TEST_F(SessionCommands, AFailedSaveIsLoggedEachTimeAndReportedOnceARun)
{
    for (int run = 0; run < 2; ++run) {
        Make(QStringLiteral("yok/ZYRdenetleyici.dat"));
        List().Add(Record(QStringLiteral("A")));
        List().Add(Record(QStringLiteral("B")));
        QStringList reports;
        QObject::connect(session.get(), &TConsoleSession::ListSaveFailed,
            [&](const QString &Message, bool First) { reports << Message + (First ? u'!' : u'.'); });
        session->ToggleSelect(List().IdAt(0));
        session->ToggleSelect(List().IdAt(1));
        EXPECT_EQ(reports,
            (QStringList{QStringLiteral("Cannot create file yok/ZYRdenetleyici.dat!"),
                QStringLiteral("Cannot create file yok/ZYRdenetleyici.dat.")}));
        // The toggles took place all the same.
        EXPECT_EQ(List().Cell(1, TSystemRecord::Select), QStringLiteral("0"));
    }
    EXPECT_EQ(LogCount(QStringLiteral("Cannot create file yok/ZYRdenetleyici.dat")), 4);
}

TEST_F(SessionCommands, SendCommandIsBusyMeanwhileAndReportsASelectionError)
{
    std::atomic<int> sent{0};
    session->Engine().SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        QThread::msleep(100);
        ++sent;
    };
    QList<bool> busyNews, mailNews;
    QObject::connect(session.get(), &TConsoleSession::BusyChanged, [&](bool Busy) { busyNews << Busy; });
    QObject::connect(session.get(), &TConsoleSession::MailBusyChanged, [&](bool Busy) { mailNews << Busy; });
    session->SendStatusMails();
    // The mails go out on the mail thread; the session is busy meanwhile.
    EXPECT_TRUE(session->Busy());
    EXPECT_TRUE(session->MailBusy());
    WaitIdle();
    EXPECT_EQ(sent.load(), 1);
    EXPECT_FALSE(session->MailBusy());
    EXPECT_EQ(busyNews, (QList<bool>{true, false}));
    EXPECT_EQ(mailNews, (QList<bool>{true, false}));

    session->Engine().SendStatusMailsJob = [](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        throw EZyrError(QStringLiteral("'x' is not a valid floating point value"));
    };
    QStringList failures;
    QObject::connect(
        session.get(), &TConsoleSession::SendFailed, [&](const QString &Text) { failures << Text; });
    session->SendStatusMails();
    ASSERT_TRUE(WaitUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures, QStringList{QStringLiteral("'x' is not a valid floating point value")});
    EXPECT_FALSE(session->Busy());
}

TEST_F(SessionCommands, RemovedAddressLeavesEveryRecordAndTheFile)
{
    List().Add(Record(QStringLiteral("A"), QStringLiteral("0"), QStringLiteral("a@x.com,b@x.com")));
    List().Add(Record(QStringLiteral("B"), QStringLiteral("0"), QStringLiteral("b@x.com")));
    ASSERT_TRUE(session->AddressInUse(QStringLiteral("b@x.com")));
    session->RemoveAddress(QStringLiteral("b@x.com"));
    EXPECT_FALSE(session->AddressInUse(QStringLiteral("b@x.com")));
    const auto saved = Saved();
    ASSERT_EQ(saved->Count(), 2);
    EXPECT_EQ(saved->Cell(0, TSystemRecord::Email), QStringLiteral("a@x.com"));
    EXPECT_EQ(saved->Cell(1, TSystemRecord::Email), QString());
}

} // namespace
