#include "records/SystemList.h"
#include "platform/Errors.h"
#include "TestTexts.h"
#include <gtest/gtest.h>

namespace {

using R = TSystemRecord;

TSystemRecord MakeRecord(std::initializer_list<const char *> cells)
{
    TSystemRecord r;
    for (const char *c : cells)
        r.Cells.append(QString::fromUtf8(c));
    return r;
}

QStringList Column(const TSystemList &list, int column)
{
    QStringList out;
    for (int i = 0; i < list.Count(); ++i)
        out.append(list.Cell(i, column));
    return out;
}

// Records every notification, and what the list looked like when it arrived.
struct TRecorder : TSystemListObserver
{
    explicit TRecorder(const TSystemList &l)
        : list(l)
    {
    }
    void ListAboutToReset() override { events.append(QStringLiteral("aboutToReset %1").arg(list.Count())); }
    void ListReset() override { events.append(QStringLiteral("reset %1").arg(list.Count())); }
    void RowAboutToBeInserted(int p) override
    {
        events.append(QStringLiteral("aboutToInsert %1 n=%2").arg(p).arg(list.Count()));
    }
    void RowInserted(int p) override
    {
        events.append(QStringLiteral("inserted %1 n=%2").arg(p).arg(list.Count()));
    }
    void RowAboutToBeRemoved(int p) override
    {
        events.append(QStringLiteral("aboutToRemove %1 n=%2").arg(p).arg(list.Count()));
    }
    void RowRemoved(int p) override
    {
        events.append(QStringLiteral("removed %1 n=%2").arg(p).arg(list.Count()));
    }
    void RowsChanged(int f, int l) override { events.append(QStringLiteral("changed %1-%2").arg(f).arg(l)); }
    const TSystemList &list;
    QStringList events;
};

TEST(SystemRecord, ShortRowsReadEmptyAndGrowWhenWritten)
{
    TSystemList list;
    list.Add(MakeRecord({"1", "Merkez", "srv1", "", "2", "0", "", ""})); // eight cells, as older files
    EXPECT_EQ(list.Cell(0, R::ColZYRplus), QString());
    EXPECT_EQ(list.Cell(0, 42), QString());
    list.SetCell(0, 11, QStringLiteral("x"));
    EXPECT_EQ(list.Record(0).Cells.size(), 12);
    EXPECT_EQ(list.Cell(0, 10), QString());
    EXPECT_EQ(list.Cell(0, 11), QStringLiteral("x"));
    EXPECT_EQ(list.Cell(0, R::Name), QStringLiteral("Merkez"));
}

TEST(SystemRecord, BadPositionOrColumnIsAnError)
{
    TSystemList list;
    EXPECT_THROW(list.Record(0), EZyrError);
    list.Add(MakeRecord({"1"}));
    EXPECT_THROW(list.Cell(1, 0), EZyrError);
    EXPECT_THROW(list.Cell(-1, 0), EZyrError);
    EXPECT_THROW(list.SetCell(0, -1, QString()), EZyrError);
    EXPECT_THROW(list.Delete(1), EZyrError);
    EXPECT_EQ(list.Count(), 1);
}

TEST(SystemRecord, StateCodesAndTexts)
{
    const struct
    {
        int code;
        const char *text;
        bool alarm;
    } cases[] = {
        {csNotChecked, "Denetlenmemiş", false},
        {csNotWorking, "Çalışmıyor", true},
        {csWorking, "Çalışıyor", false},
        {csWorkingReport, "Çalışıyor", false},
        {csDevicesMissing, "Aygıt eksik tespit edildi", true},
        {csDevicesExcess, "Aygıt fazla tespit edildi", true},
        {csAlarm, "Alarm tespit edildi", true},
        {csChecking, "", false},
        {8, "", false},
        {-1, "", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(StateDescription(c.code), QString::fromUtf8(c.text)) << c.code;
        EXPECT_EQ(IsAlarmState(c.code), c.alarm) << c.code;
    }
    EXPECT_EQ(ColumnName(R::Select), QStringLiteral("Select"));
    EXPECT_EQ(ColumnName(R::ColZYRplus), QStringLiteral("ColZYRplus"));
}

TEST(SystemRecord, NumberReader)
{
    const struct
    {
        const char *text;
        bool ok;
        double value;
    } cases[] = {
        {"2", true, 2},
        {"0", true, 0},
        {"-1", true, -1},
        {" 7 ", true, 7},
        {"1.5", true, 1.5},
        {"", false, 0},
        {"abc", false, 0},
        {"12abc", false, 0},
        {"nan", false, 0},
        {"inf", false, 0},
    };
    TSystemList list;
    list.Add(TSystemRecord());
    for (const auto &c : cases) {
        list.SetCell(0, R::DeviceCnt, QString::fromUtf8(c.text));
        if (c.ok)
            EXPECT_EQ(list.CellAsNumber(0, R::DeviceCnt), c.value) << c.text;
        else
            EXPECT_THROW(list.CellAsNumber(0, R::DeviceCnt), EZyrError) << c.text;
    }
    // A missing cell is the empty text, which is no number.
    EXPECT_THROW(list.CellAsNumber(0, 30), EZyrError);
}

TEST(SystemRecord, FlagReaderAndWriters)
{
    const struct
    {
        const char *text;
        int expected; // 1 true, 0 false, -1 error
    } cases[] = {
        {"-1", 1},
        {"0", 0},
        {"1", 1},
        {"2.5", 1},
        {"True", 1},
        {"true", 1},
        {"FALSE", 0},
        {"False", 0},
        {"", 0}, // rows of older files have no ColZYRplus
        {"yes", -1},
        {"abc", -1},
        {" ", -1},
    };
    TSystemList list;
    list.Add(TSystemRecord());
    for (const auto &c : cases) {
        list.SetCell(0, R::ColZYRplus, QString::fromUtf8(c.text));
        if (c.expected < 0)
            EXPECT_THROW(list.CellAsFlag(0, R::ColZYRplus), EZyrError) << c.text;
        else
            EXPECT_EQ(list.CellAsFlag(0, R::ColZYRplus), c.expected == 1) << c.text;
    }
    list.SetCellFlag(0, R::ColZYRplus, true);
    EXPECT_EQ(list.Cell(0, R::ColZYRplus), QStringLiteral("-1"));
    list.SetCellFlag(0, R::ColZYRplus, false);
    EXPECT_EQ(list.Cell(0, R::ColZYRplus), QStringLiteral("0"));
    list.SetCellNumber(0, R::State, 6);
    EXPECT_EQ(list.Cell(0, R::State), QStringLiteral("6"));
    list.SetCellNumber(0, R::DeviceCnt, -12);
    EXPECT_EQ(list.CellAsNumber(0, R::DeviceCnt), -12);
}

TEST(SystemListSort, ComparesUpperCaseTextsByteByByte)
{
    TSystemList list;
    for (const char *n : {"9", "10", "2", "100"})
        list.Add(MakeRecord({"1", n, "h", "", n}));
    list.SortBy(R::DeviceCnt, true);
    EXPECT_EQ(Column(list, R::DeviceCnt), Texts({"10", "100", "2", "9"}));
    list.SortBy(R::DeviceCnt, false);
    EXPECT_EQ(Column(list, R::DeviceCnt), Texts({"9", "2", "100", "10"}));

    TSystemList names;
    for (const char *n : {"beta", "Alfa", "ALFB", "Şube", "zeta", "alfa"})
        names.Add(MakeRecord({"1", n}));
    names.SortBy(R::Name, true);
    // Case-insensitive; equal keys keep their order; Ş lies beyond ASCII and sorts after Z.
    EXPECT_EQ(Column(names, R::Name), Texts({"Alfa", "alfa", "ALFB", "beta", "zeta", "Şube"}));
    names.SortBy(R::Name, false);
    EXPECT_EQ(Column(names, R::Name), Texts({"Şube", "zeta", "beta", "ALFB", "Alfa", "alfa"}));
}

TEST(SystemListSort, HeaderClicksAndResort)
{
    TSystemList list;
    EXPECT_EQ(list.SortColumn(), R::Name);
    EXPECT_FALSE(list.SortAscending());
    for (const char *n : {"b", "a", "c"})
        list.Add(MakeRecord({"0", n, n}));
    EXPECT_TRUE(list.HeaderClickSort(R::IP));
    EXPECT_EQ(Column(list, R::IP), Texts({"a", "b", "c"}));
    EXPECT_TRUE(list.HeaderClickSort(R::IP));
    EXPECT_EQ(Column(list, R::IP), Texts({"c", "b", "a"}));
    EXPECT_FALSE(list.HeaderClickSort(R::Select));
    EXPECT_EQ(list.SortColumn(), R::IP);
    EXPECT_EQ(Column(list, R::IP), Texts({"c", "b", "a"}));

    // Writing a cell never moves its row; the next re-sort does.
    list.SetCell(2, R::IP, QStringLiteral("z"));
    EXPECT_EQ(Column(list, R::IP), Texts({"c", "b", "z"}));
    list.Add(MakeRecord({"0", "d", "d"}));
    EXPECT_EQ(list.Cell(3, R::IP), QStringLiteral("d"));
    list.Sort();
    EXPECT_EQ(Column(list, R::IP), Texts({"z", "d", "c", "b"}));
}

TEST(SystemList, SelectedCount)
{
    TSystemList list;
    EXPECT_EQ(list.SelectedCount(), 0);
    for (const char *s : {"1", "0", "1", "", "abc", "1.0", "-1"})
        list.Add(MakeRecord({s}));
    EXPECT_EQ(list.SelectedCount(), 3);
}

TEST(SystemListAddresses, WholeAddressesOnly)
{
    const struct
    {
        const char *email;
        const char *address;
        bool inUse;
        const char *after;
    } cases[] = {
        {"a@x.com,b@x.com,c@x.com", "b@x.com", true, "a@x.com,c@x.com"},
        {"b@x.com", "b@x.com", true, ""},
        {"b@x.com,c@x.com", "b@x.com", true, "c@x.com"},
        {"a@x.com,b@x.com", "b@x.com", true, "a@x.com"},
        {"ab@x.com", "b@x.com", false, "ab@x.com"},
        {"ab@x.com,b@x.com.tr", "b@x.com", false, "ab@x.com,b@x.com.tr"},
        {"Ali@X.com,B@X.COM", "b@x.com", true, "Ali@X.com"},
        {"IRMAK@x.com", "irmak@x.com", true, ""}, // ASCII folding: I and i are one letter here
        {"o'neil@x.com,b@x.com", "b@x.com", true, "o'neil@x.com"},
        {"çağrı@x.com", "ÇAĞRI@x.com", false, "çağrı@x.com"},
        {"", "b@x.com", false, ""},
        {"a@x.com", "", false, "a@x.com"},
    };
    for (const auto &c : cases) {
        const QString email = QString::fromUtf8(c.email), address = QString::fromUtf8(c.address);
        EXPECT_EQ(AddressTextContains(email, address), c.inUse) << c.email << " / " << c.address;
        EXPECT_EQ(RemoveFromAddressText(email, address), QString::fromUtf8(c.after)) << c.email;

        TSystemList list;
        list.Add(MakeRecord({"1", "n", "h", "other@x.com"}));
        list.Add(MakeRecord({"1", "n", "h", c.email}));
        EXPECT_EQ(list.AddressInUse(address), c.inUse) << c.email;
        list.RemoveAddress(address);
        EXPECT_EQ(list.Cell(1, R::Email), QString::fromUtf8(c.after)) << c.email;
        EXPECT_EQ(list.Cell(0, R::Email), QStringLiteral("other@x.com"));
    }
    TSystemList empty;
    EXPECT_FALSE(empty.AddressInUse(QStringLiteral("a@x.com")));
}

TEST(SystemListObserver, SingleChangesAreReportedPerRow)
{
    TSystemList list;
    TRecorder rec(list);
    list.SetObserver(&rec);
    list.Add(MakeRecord({"1", "a"}));
    list.Add(MakeRecord({"1", "b"}));
    list.SetCell(1, R::State, QStringLiteral("7"));
    list.Delete(0);
    EXPECT_EQ(rec.events,
        Texts({"aboutToInsert 0 n=0", "inserted 0 n=1", "aboutToInsert 1 n=1", "inserted 1 n=2",
            "changed 1-1", "aboutToRemove 0 n=2", "removed 0 n=1"}));
}

TEST(SystemListObserver, UpdatesReportOnceAtTheEnd)
{
    TSystemList list;
    for (const char *n : {"a", "b", "c", "d"})
        list.Add(MakeRecord({"1", n, "h", "b@x.com"}));
    TRecorder rec(list);
    list.SetObserver(&rec);

    list.BeginUpdate();
    list.SetCell(2, R::State, QStringLiteral("7"));
    list.BeginUpdate();
    list.SetCell(1, R::State, QStringLiteral("7"));
    list.EndUpdate();
    EXPECT_TRUE(rec.events.isEmpty());
    list.EndUpdate();
    EXPECT_EQ(rec.events, Texts({"changed 1-2"}));

    // A structural change inside an update is one reset around the whole update.
    rec.events.clear();
    {
        TListUpdate update(list);
        list.SetCell(0, R::State, QStringLiteral("2"));
        list.Add(MakeRecord({"0", "e"}));
        list.Delete(0);
        list.Sort();
    }
    EXPECT_EQ(rec.events, Texts({"aboutToReset 4", "reset 4"}));

    rec.events.clear();
    list.RemoveAddress(QStringLiteral("b@x.com"));
    EXPECT_EQ(rec.events, Texts({"changed 1-3"}));
    EXPECT_FALSE(list.AddressInUse(QStringLiteral("b@x.com")));

    rec.events.clear();
    list.SortBy(R::Name, true);
    list.Clear();
    EXPECT_EQ(rec.events, Texts({"aboutToReset 4", "reset 4", "aboutToReset 4", "reset 0"}));
    EXPECT_FALSE(list.Updating());
}

} // namespace
