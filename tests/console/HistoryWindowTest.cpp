// The history window over a real database written by the real writer: its figures, its change rows (with
// acknowledgements and maintenance) and its strips as drawn, a missing or damaged database, and a result of
// a real check showing up while it is open.
#include "console/HistoryWindow.h"
#include "console/About.h"
#include "console/Help.h"
#include "console/Main.h"
#include "console/ServiceList.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "dialogs/DialogTestUtil.h"
#include "history/HistoryStore.h"
#include "LoggedFolder.h"
#include "platform/UserLocale.h"
#include "session/ConsoleSession.h"
#include <QAction>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QToolTip>
#include <QTreeWidget>
#include <sqlite3.h>

// Readable failures: the colours, not their bytes.
inline void PrintTo(const QColor &Colour, std::ostream *Out)
{
    *Out << Colour.name().toStdString();
}

namespace {

// A day far from any change of summer time, in the zones that have one.
const QDate kToday(2026, 7, 15);

qint64 At(int DaysAgo, int Hour, int Minute)
{
    return QDateTime(kToday.addDays(-DaysAgo), QTime(Hour, Minute)).toSecsSinceEpoch();
}

const QColor kGreen(0x00, 0xa0, 0x00), kRed(0xd0, 0x00, 0x00), kGrey(0xc0, 0xc0, 0xc0),
    kBlue(0x4a, 0x7f, 0xd0);

class HistoryWindow : public ::testing::Test
{
protected:
    TLoggedFolder dir;
    TConsoleSession session{dir.path(), QStringLiteral("ZYRdenetleyici.dat")};

    void SetUp() override { TMessageBoxHook::Clear(); }

    // Results every five minutes (Period 5) from the hour given for Count results, all in one state.
    static void Block(
        std::vector<THistoryResult> &Out, int DaysAgo, int Hour, int Minute, int Count, int State)
    {
        for (int i = 0; i < Count; ++i)
            Out.push_back({QStringLiteral("10.0.0.1"), QStringLiteral("Merkez"),
                At(DaysAgo, Hour, Minute) + i * 300, State, THistoryOrigin::Periodic, 5});
    }
    // The history of 10.0.0.1, one cycle per result, as the session's writer would keep it.
    void WriteHistory()
    {
        std::vector<THistoryResult> results;
        Block(results, 60, 10, 0, 12, 1); // an hour down, long ago
        Block(results, 20, 10, 0, 12, 3);
        Block(results, 2, 10, 0, 6, 1);
        Block(results, 1, 10, 0, 12, 2);
        Block(results, 0, 9, 0, 6, 3); // today: half an hour up, half an hour devices missing,
        Block(results, 0, 9, 30, 6, 4);
        Block(results, 0, 10, 0, 12, 1); // an hour down, an hour up
        Block(results, 0, 11, 0, 12, 3);
        QStringList failures;
        THistoryStore store(session.HistoryFileName(), [&](const QString &Line) { failures << Line; });
        for (const THistoryResult &r : results)
            store.Record({r});
        store.Flush();
        ASSERT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('|')).toStdString();
    }

    static QStringList Figures(TFormHistory &Window)
    {
        QStringList texts;
        for (const char *name :
            {"lblAvailability24h", "lblAvailability7d", "lblAvailability30d", "lblAvailability365d"})
            texts << Child<QLabel>(&Window, name)->text();
        return texts;
    }
    static QList<QStringList> Rows(TFormHistory &Window)
    {
        QList<QStringList> rows;
        auto *list = Child<QTreeWidget>(&Window, "lstChanges");
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QStringList row;
            for (int c = 0; c < list->columnCount(); ++c)
                row << list->topLevelItem(i)->text(c);
            rows << row;
        }
        return rows;
    }
    // The colour drawn at the centre of each cell of a strip.
    static QList<QColor> Colours(TFormHistory &Window, const char *Strip)
    {
        auto *strip = Child<TAlarmStrip>(&Window, Strip);
        const QImage image = strip->grab().toImage();
        QList<QColor> colours;
        for (int i = 0; i < strip->Count(); ++i) {
            const QPoint centre = strip->CellRect(i).center() * image.devicePixelRatio();
            colours << image.pixelColor(centre);
        }
        return colours;
    }
    // The tooltip the strip shows over the centre of a cell.
    static QString Tip(TFormHistory &Window, const char *Strip, int Index)
    {
        auto *strip = Child<TAlarmStrip>(&Window, Strip);
        const QPoint at = strip->CellRect(Index).center();
        QHelpEvent help(QEvent::ToolTip, at, strip->mapToGlobal(at));
        QCoreApplication::sendEvent(strip, &help);
        const QString text = QToolTip::text();
        QToolTip::hideText();
        return text;
    }
    static QString Message(TFormHistory &Window)
    {
        QLabel *label = Child<QLabel>(&Window, "lblMessage");
        return label->isVisibleTo(&Window) ? label->text() : QString();
    }
};

TEST_F(HistoryWindow, FiguresRowsAndStripsOfAKnownHistory)
{
    WriteHistory();
    TFormHistory window(session);
    window.Clock = [] { return At(0, 12, 30); };
    window.ShowFor(QStringLiteral("Merkez"), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Geçmiş - Merkez (10.0.0.1)"));
    EXPECT_EQ(Message(window), QString());

    // Today 5,700 s up and 5,400 s in alarm; two days ago 2,100 s down, yesterday 3,900 s up; 20 days
    // ago 3,900 s up; 60 days ago 3,900 s down. Time with no result counts neither way.
    EXPECT_EQ(Figures(window),
        (QStringList{QStringLiteral("%51,4"), QStringLiteral("%56,1"), QStringLiteral("%64,3"),
            QStringLiteral("%54,2")}));

    const QList<QStringList> expected{
        {QStringLiteral("15.07.2026"), QStringLiteral("11:00:00"), QStringLiteral("Çalışıyor"),
            QStringLiteral("1 sa 5 dk")}, // its last result's hold ended at 12:05
        {QStringLiteral("15.07.2026"), QStringLiteral("10:00:00"), QStringLiteral("Çalışmıyor"),
            QStringLiteral("1 sa")},
        {QStringLiteral("15.07.2026"), QStringLiteral("09:30:00"),
            QStringLiteral("Aygıt eksik tespit edildi"), QStringLiteral("30 dk")},
        {QStringLiteral("15.07.2026"), QStringLiteral("09:00:00"), QStringLiteral("Çalışıyor"),
            QStringLiteral("30 dk")},
        {QStringLiteral("14.07.2026"), QStringLiteral("10:00:00"), QStringLiteral("Çalışıyor"),
            QStringLiteral("23 sa")},
        {QStringLiteral("13.07.2026"), QStringLiteral("10:00:00"), QStringLiteral("Çalışmıyor"),
            QStringLiteral("1 gün")},
        {QStringLiteral("25.06.2026"), QStringLiteral("10:00:00"), QStringLiteral("Çalışıyor"),
            QStringLiteral("18 gün")},
        {QStringLiteral("16.05.2026"), QStringLiteral("10:00:00"), QStringLiteral("Çalışmıyor"),
            QStringLiteral("40 gün")},
    };
    EXPECT_EQ(Rows(window), expected);

    // Hours: 12:00 up until the hold ran out, 11:00 up, 10:00 down, 09:00 half and half, before it nothing.
    const QList<QColor> hours = Colours(window, "stpHours");
    ASSERT_EQ(hours.size(), 24);
    EXPECT_EQ(hours.mid(18), (QList<QColor>{kGrey, kGrey, QColor(104, 80, 0), kRed, kGreen, kGreen}));
    EXPECT_EQ(hours.count(kGrey), 20);
    // Days: today 5,400 of 11,100 known seconds in alarm, yesterday up, the day before down.
    const QList<QColor> days = Colours(window, "stpDays");
    ASSERT_EQ(days.size(), 30);
    EXPECT_EQ(days.mid(26), (QList<QColor>{kGrey, kRed, kGreen, QColor(101, 82, 0)}));
    EXPECT_EQ(days[9], kGreen); // 20 days ago
    EXPECT_EQ(days.count(kGrey), 26);

    // While the last result's hold lasts, its state is still going on.
    window.Clock = [] { return At(0, 12, 2); };
    window.ShowFor(QStringLiteral("Merkez"), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(Rows(window).value(0).value(TFormHistory::Col_Lasted), QStringLiteral("1 sa 2 dk (sürüyor)"));
}

// A day and an hour wholly in maintenance are drawn in its colour, as is an hour where it took more time
// than the known states; an hour where it took less shows the alarm share of the known time. The figures
// leave maintenance out, and the list holds acknowledgements and maintenance among the changes.
TEST_F(HistoryWindow, MaintenanceInTheStripsAndMarksInTheList)
{
    std::vector<THistoryResult> results;
    Block(results, 1, 10, 0, 12, 7);
    Block(results, 0, 8, 0, 12, 3);
    Block(results, 0, 9, 0, 15, 7); // to 10:15
    Block(results, 0, 10, 15, 6, 1);
    Block(results, 0, 10, 45, 3, 3);
    Block(results, 0, 11, 0, 8, 7); // to 11:40
    Block(results, 0, 11, 40, 10, 3);
    const auto mark = [](qint64 Time, int Kind, const char *Note = "", qint64 End = 0) {
        return THistoryMark{QStringLiteral("10.0.0.1"), Kind, QString::fromUtf8(Note), Time, End};
    };
    const std::vector<THistoryMark> marks{
        mark(At(1, 9, 59), THistoryMark::MaintenanceStarted, "Yıllık bakım", At(1, 11, 0)),
        mark(At(1, 11, 0), THistoryMark::MaintenanceEnded),
        mark(At(0, 8, 59) + 30, THistoryMark::MaintenanceStarted, "Disk değişimi", At(0, 10, 15)),
        mark(At(0, 10, 15), THistoryMark::MaintenanceEnded),
        mark(At(0, 10, 20), THistoryMark::Acknowledged, "Saha arandı"),
        mark(At(0, 10, 30), THistoryMark::AckRemoved),
        mark(At(0, 10, 35), THistoryMark::Acknowledged, "Saha arandı, teknisyen yolda"),
        mark(At(0, 10, 45), THistoryMark::AckFell),
        mark(At(0, 10, 58), THistoryMark::MaintenanceStarted, "", At(0, 11, 40)),
        mark(At(0, 11, 40), THistoryMark::MaintenanceEnded),
    };
    {
        THistoryStore store(session.HistoryFileName(), {});
        size_t next = 0;
        for (const THistoryResult &r : results) {
            for (; next < marks.size() && marks[next].Time <= r.Time; ++next)
                store.RecordMark(marks[next]);
            store.Record({r});
        }
        for (; next < marks.size(); ++next)
            store.RecordMark(marks[next]);
    }
    TFormHistory window(session);
    window.Clock = [] { return At(0, 12, 30); };
    window.ShowFor(QStringLiteral("Merkez"), QStringLiteral("10.0.0.1"));

    // Hours: 08:00 up; 09:00 maintenance; 10:00 15 minutes of it, 30 down, 15 up; 11:00 40 minutes of it and
    // 20 up; 12:00 up. Today 6,900 s in maintenance, 1,800 of 9,300 known seconds down; yesterday all of it.
    const QList<QColor> hours = Colours(window, "stpHours");
    ASSERT_EQ(hours.size(), 24);
    EXPECT_EQ(hours.mid(19), (QList<QColor>{kGreen, kBlue, QColor(139, 53, 0), kBlue, kGreen}));
    const QList<QColor> days = Colours(window, "stpDays");
    ASSERT_EQ(days.size(), 30);
    EXPECT_EQ(days.mid(27), (QList<QColor>{kGrey, kBlue, QColor(40, 129, 0)}));
    EXPECT_EQ(Tip(window, "stpHours", 20), QStringLiteral("15.07.2026 09:00–10:00: bakım 1 sa"));
    EXPECT_EQ(Tip(window, "stpHours", 21),
        QStringLiteral("15.07.2026 10:00–11:00: %33,3, alarm 30 dk, bakım 15 dk"));
    EXPECT_EQ(Tip(window, "stpHours", 19), QStringLiteral("15.07.2026 08:00–09:00: %100,0, alarm 0 sn"));
    EXPECT_EQ(Tip(window, "stpDays", 28),
        QStringLiteral("14.07.2026: bakım 1 sa 5 dk")); // its last result held 10 minutes
    // 7,500 of 9,300 known seconds up, over every span: maintenance counts neither way.
    EXPECT_EQ(Figures(window), QStringList(4, QStringLiteral("%80,6")));

    // The end of a maintenance as the log writes it, in the user's separators.
    const auto end = [](const char *Text) {
        return QString::fromUtf8(Text).replace(u'.', UserDateSeparator()).replace(u':', UserTimeSeparator());
    };
    const auto row = [](const char *Date, const char *Time, const QString &State, const char *Lasted = "") {
        return QStringList{
            QString::fromUtf8(Date), QString::fromUtf8(Time), State, QString::fromUtf8(Lasted)};
    };
    const QList<QStringList> expected{
        row("15.07.2026", "11:40:00", QStringLiteral("Bakım bitti")),
        row("15.07.2026", "11:40:00", QStringLiteral("Çalışıyor"), "50 dk (sürüyor)"),
        row("15.07.2026", "11:00:00", QStringLiteral("Bakımda"), "40 dk"),
        row("15.07.2026", "10:58:00", QStringLiteral("Bakım başladı (bitiş ") + end("15.07.2026 11:40)")),
        row("15.07.2026", "10:45:00", QStringLiteral("Alarm onayı kalktı, sistem düzeldi")),
        row("15.07.2026", "10:45:00", QStringLiteral("Çalışıyor"), "15 dk"),
        row("15.07.2026", "10:35:00", QStringLiteral("Alarm onaylandı: Saha arandı, teknisyen yolda")),
        row("15.07.2026", "10:30:00", QStringLiteral("Alarm onayı kaldırıldı")),
        row("15.07.2026", "10:20:00", QStringLiteral("Alarm onaylandı: Saha arandı")),
        row("15.07.2026", "10:15:00", QStringLiteral("Bakım bitti")),
        row("15.07.2026", "10:15:00", QStringLiteral("Çalışmıyor"), "30 dk"),
        row("15.07.2026", "09:00:00", QStringLiteral("Bakımda"), "1 sa 15 dk"),
        row("15.07.2026", "08:59:30",
            QStringLiteral("Bakım başladı (bitiş ") + end("15.07.2026 10:15)")
                + QStringLiteral(": Disk değişimi")),
        row("15.07.2026", "08:00:00", QStringLiteral("Çalışıyor"), "1 sa"),
        row("14.07.2026", "11:00:00", QStringLiteral("Bakım bitti")),
        row("14.07.2026", "10:00:00", QStringLiteral("Bakımda"), "22 sa"),
        row("14.07.2026", "09:59:00",
            QStringLiteral("Bakım başladı (bitiş ") + end("14.07.2026 11:00)")
                + QStringLiteral(": Yıllık bakım")),
    };
    EXPECT_EQ(Rows(window), expected);

    // A system never checked, with only a maintenance: its marks show, without a word of a missing history.
    {
        THistoryStore store(session.HistoryFileName(), {});
        store.RecordMark({QStringLiteral("10.0.0.2"), THistoryMark::MaintenanceStarted,
            QStringLiteral("Kurulum"), At(0, 12, 0), At(0, 13, 0)});
    }
    window.ShowFor(QStringLiteral("Yeni"), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(Message(window), QString());
    EXPECT_EQ(Rows(window),
        (QList<QStringList>{row("15.07.2026", "12:00:00",
            QStringLiteral("Bakım başladı (bitiş ") + end("15.07.2026 13:00)")
                + QStringLiteral(": Kurulum"))}));
    EXPECT_EQ(Colours(window, "stpHours"), QList<QColor>(24, kGrey));
}

// The lengths of states as the change list writes them: whole units, cut rather than rounded up.
TEST(HistoryTexts, Durations)
{
    const std::pair<qint64, const char *> cases[]
        = {{0, "0 sn"}, {59, "59 sn"}, {60, "1 dk"}, {3599, "59 dk"}, {3600, "1 sa"}, {3660, "1 sa 1 dk"},
            {86399, "23 sa 59 dk"}, {86400, "1 gün"}, {90000, "1 gün 1 sa"}, {400 * 86400 + 3599, "400 gün"}};
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(TFormHistory::DurationText(seconds).toStdString(), text) << seconds;
}

TEST_F(HistoryWindow, WithoutAHistoryTheWindowIsEmptyAndSaysWhy)
{
    struct TCase
    {
        const char *Name;
        std::function<void()> Prepare;
        QString Address, Message;
    } cases[] = {
        {"no database yet", [] {}, QStringLiteral("10.0.0.1"),
            QStringLiteral("Geçmiş veritabanı henüz yok.")},
        {"a system with no result", [this] { WriteHistory(); }, QStringLiteral("10.0.0.2"),
            QStringLiteral("Bu sistemin geçmişi yok.")},
        {"a damaged database",
            [this] {
                QFile file(session.HistoryFileName());
                ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                file.write(QByteArray(8192, 'x'));
            },
            QStringLiteral("10.0.0.1"), QStringLiteral("Geçmiş veritabanı okunamadı.")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        c.Prepare();
        TFormHistory window(session);
        window.Clock = [] { return At(0, 12, 30); };
        window.ShowFor(QStringLiteral("Yedek"), c.Address);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(Message(window), c.Message);
        EXPECT_EQ(Figures(window), QStringList(4, QStringLiteral("—")));
        EXPECT_TRUE(Rows(window).isEmpty());
        EXPECT_EQ(Colours(window, "stpHours"), QList<QColor>(24, kGrey));
        EXPECT_EQ(Colours(window, "stpDays"), QList<QColor>(30, kGrey));
        EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    }
}

// Another program holds the database locked (SQLite's exclusive locking mode, as a recovery or a copy
// tool may): the window says it cannot read it at once, instead of waiting seconds for the lock.
TEST_F(HistoryWindow, ADatabaseHeldLockedIsNotWaitedFor)
{
    WriteHistory();
    sqlite3 *holder = nullptr;
    ASSERT_EQ(sqlite3_open(session.HistoryFileName().toUtf8().constData(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder,
                  "PRAGMA locking_mode=EXCLUSIVE; BEGIN IMMEDIATE; UPDATE systems SET name=name; COMMIT;",
                  nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(holder);
    TFormHistory window(session);
    window.Clock = [] { return At(0, 12, 30); };
    QElapsedTimer timer;
    timer.start();
    window.ShowFor(QStringLiteral("Merkez"), QStringLiteral("10.0.0.1"));
    const qint64 waited = timer.elapsed();
    EXPECT_EQ(Message(window), QStringLiteral("Geçmiş veritabanı okunamadı."));
    EXPECT_LT(waited, 2000); // a reader with the default wait would stand 5 s here
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    sqlite3_close(holder);
    // Once the lock is gone the next read shows the history.
    window.ShowFor(QStringLiteral("Merkez"), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(Message(window), QString());
    EXPECT_FALSE(Rows(window).isEmpty());
}

// Opened from the list's menu for a system never checked; the result of a real check (a closed port on
// loopback) then reaches the open window through the session's writer.
TEST_F(HistoryWindow, OpensFromTheListMenuAndFollowsTheSession)
{
    TSystemRecord record;
    record.Cells = {QStringLiteral("1"), QStringLiteral("Kapalı"), QStringLiteral("127.0.0.1:1"), QString(),
        QStringLiteral("0"), QStringLiteral("0"), QString(), QString(), QStringLiteral("0")};
    session.ListForView().Add(record);
    TMainForm form(session);
    TFormNewRecord editor;
    TFormDetails details;
    TFormHelp help;
    TFormAbout about;
    TFormSettings settings(session);
    TFormHistory window(session);
    form.JoinDialogs({editor, details, help, about, settings, &window});
    auto *list = Child<TServiceListView>(&form, "ServiceList");
    list->setCurrentIndex(list->model()->index(0, TSystemRecord::Name));

    Child<QAction>(&form, "Gecmis1")->trigger();
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Geçmiş - Kapalı (127.0.0.1:1)"));
    EXPECT_EQ(Message(window), QStringLiteral("Geçmiş veritabanı henüz yok."));

    session.CheckRecord(session.List().IdAt(0));
    ASSERT_TRUE(WaitUntil([&] { return Rows(window).size() == 1; }, 10000));
    EXPECT_EQ(Rows(window)[0].value(TFormHistory::Col_State), QStringLiteral("Çalışmıyor"));
    EXPECT_TRUE(Rows(window)[0].value(TFormHistory::Col_Lasted).endsWith(QStringLiteral(" (sürüyor)")));
    EXPECT_EQ(Message(window), QString());

    // Commits that come together are read once, in the next turn of the event loop.
    int reads = 0;
    window.Clock = [&reads] {
        ++reads;
        return QDateTime::currentSecsSinceEpoch();
    };
    for (int i = 0; i < 5; ++i)
        emit session.HistoryWritten();
    EXPECT_EQ(reads, 0);
    ASSERT_TRUE(WaitUntil([&] { return reads > 0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(reads, 1);
    // A closed window reads nothing.
    window.close();
    emit session.HistoryWritten();
    QCoreApplication::processEvents();
    EXPECT_EQ(reads, 1);
}

// A month with a few outages, as the user guide shows it: with ZYR_SCREENSHOT_DIR set (scripts/screenshots-
// dialogs) the window is also written there as history.png.
TEST_F(HistoryWindow, LookOfAMonthWithOutages)
{
    // Every five minutes for 30 days up to 16:40 today, up but where a span says otherwise.
    struct TSpan
    {
        int DaysAgo, From, To, State; // minutes of the day; state -1: no result (the console was off)
    } spans[] = {{25, 120, 330, 1}, {19, 1430, 1440, -1}, {18, 0, 1440, -1}, {12, 840, 885, 4},
        {6, 540, 1080, 6}, {3, 1330, 1380, 1}, {1, 1200, 1260, 1}, {0, 680, 725, 1}, {0, 870, 890, 5}};
    {
        THistoryStore store(session.HistoryFileName(), {});
        for (int day = 29; day >= 0; --day)
            for (int hour = 0; hour < 24 && At(day, hour, 0) <= At(0, 16, 40); ++hour) {
                std::vector<THistoryResult> cycle;
                for (int minute = hour * 60;
                     minute < hour * 60 + 60 && At(day, minute / 60, minute % 60) <= At(0, 16, 40);
                     minute += 5) {
                    int state = 3;
                    for (const TSpan &s : spans)
                        if (s.DaysAgo == day && minute >= s.From && minute < s.To)
                            state = s.State;
                    if (state >= 0)
                        cycle.push_back(
                            {QStringLiteral("192.168.10.21:17220"), QStringLiteral("Çağrı Merkezi"),
                                At(day, minute / 60, minute % 60), state, THistoryOrigin::Periodic, 5});
                }
                store.Record(std::move(cycle));
            }
    }
    TFormHistory window(session);
    window.Clock = [] { return At(0, 16, 40); };
    window.ShowFor(QStringLiteral("Çağrı Merkezi"), QStringLiteral("192.168.10.21:17220"));
    const QImage image = window.grab().toImage();
    if (const QByteArray dir = qgetenv("ZYR_SCREENSHOT_DIR"); !dir.isEmpty())
        image.save(QString::fromUtf8(dir) + QStringLiteral("/history.png"));
    EXPECT_EQ(image.pixelColor(2, 2), QColor(246, 247, 252));

    const QList<QColor> hours = Colours(window, "stpHours");
    EXPECT_EQ(hours.value(18), QColor(139, 53, 0)); // 11:00: 40 minutes of it down
    EXPECT_EQ(hours.value(23), kGreen); // 16:00, up to now
    const QList<QColor> days = Colours(window, "stpDays");
    EXPECT_EQ(days.value(4), QColor(30, 137, 0)); // three and a half hours down
    EXPECT_EQ(days.value(11), kGrey); // the console was off
    EXPECT_EQ(Rows(window).value(0),
        (QStringList{QStringLiteral("15.07.2026"), QStringLiteral("14:50:00"), QStringLiteral("Çalışıyor"),
            QStringLiteral("1 sa 50 dk (sürüyor)")}));
}

} // namespace
