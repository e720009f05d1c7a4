// The details window: the rows and dots it makes of a report, its channel boxes as drawn, its placement
// and its keys.
#include "console/UnitDetails.h"
#include "dialogs/DialogTestUtil.h"
#include <QCursor>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTreeWidget>

namespace {

// Report grammar: groups in 5 .. 6, items separated by 4.
QString Group(const QStringList &Items)
{
    return QChar(5) + Items.join(QChar(4)) + QChar(6);
}

QString Report(const QStringList &Header, const QList<QStringList> &Devices)
{
    QStringList groups;
    for (const QStringList &device : Devices)
        groups << Group(device);
    return Group(Header) + QChar(4) + Group(groups);
}

// The worked example: two devices, one channel in alarm, a status-code device.
QString WorkedExample()
{
    return Report({QStringLiteral("2"), QStringLiteral("2.9.4"), QStringLiteral("35.2 GB"),
                      QStringLiteral("0"), QStringLiteral("120.0 GB"), QStringLiteral("0")},
        {{QStringLiteral("A1B2C3"), QStringLiteral("0"), QStringLiteral("8"),
             QStringLiteral("0,0,1,2,0,0,0,0")},
            {QStringLiteral("D4E5F6"), QStringLiteral("2"), QStringLiteral("30"), QStringLiteral("4,3")}});
}

struct TRow
{
    QString Desc, State, Channels;
    bool operator==(const TRow &) const = default;
};

void PrintTo(const TRow &Row, std::ostream *Out)
{
    *Out << '{' << Row.Desc.toStdString() << " | " << Row.State.toStdString() << " | "
         << Row.Channels.toStdString() << '}';
}

class DetailsWindow : public ::testing::Test
{
protected:
    TSandbox sandbox;
    TFormDetails details;
    QTreeWidget *const TLAlarm = Child<QTreeWidget>(&details, "TLAlarm");
    QLabel *const lblAlarm = Child<QLabel>(&details, "lblAlarm");
    QLabel *const lblTime = Child<QLabel>(&details, "lblTime");
    // What the caller tells of the system: its state and the time of the report.
    QString state = QStringLiteral("Çalışıyor"), time = QStringLiteral("08.06.2012   17:46:00");

    QList<TRow> Rows() const
    {
        QList<TRow> rows;
        for (int i = 0; i < TLAlarm->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = TLAlarm->topLevelItem(i);
            rows.append({item->text(0), item->text(1), item->text(2)});
        }
        return rows;
    }

    // Opens the window with a report, looks at it while it is up, and closes it with Esc as a user would.
    QList<TRow> Show(const QString &Text, bool Plus = false, const std::function<void()> &Look = {})
    {
        bool closedByEsc = false;
        const int result = WhileModal([&] { return details.ShowFor(state, time, Text, Plus); },
            [&] {
                if (Look)
                    Look();
                KeyClick(TLAlarm, Qt::Key_Escape);
                closedByEsc = !details.isVisible();
            });
        EXPECT_TRUE(closedByEsc);
        EXPECT_EQ(result, QDialog::Rejected);
        return Rows();
    }
};

TEST_F(DetailsWindow, WorkedExampleRowsDotsAndChannelWidth)
{
    const QList<TRow> expected{
        {QStringLiteral("Sunucu versiyon 2.9.4"), QStringLiteral("2"), QString()},
        {QStringLiteral("Kalan Disk Alanı 35.2 GB"), QStringLiteral("0"), QString()},
        {QStringLiteral("Kalan Yedekleme Disk Alanı 120.0 GB"), QStringLiteral("0"), QString()},
        {QStringLiteral("Aygıt SeriNo/Kapasite A1B2C3 / 8"), QStringLiteral("0"),
            QStringLiteral("0,0,1,2,0,0,0,0")},
        {QStringLiteral("Aygıt SeriNo/Kapasite D4E5F6 / 30"), QStringLiteral("0"), QStringLiteral("0,1")},
    };
    EXPECT_EQ(Show(WorkedExample()), expected);
    EXPECT_EQ(details.ChannelsWidth(), 450); // 15 x the largest capacity, 30
    EXPECT_EQ(TLAlarm->header()->sectionSize(TFormDetails::Col_Channels), 450);
    EXPECT_EQ(details.windowTitle(), QStringLiteral("Detay"));
}

TEST_F(DetailsWindow, NoDeviceShowsTheThreeFixedRowsAndKeepsTheChannelWidth)
{
    const QString empty = Report({QStringLiteral("0"), QStringLiteral("3.0"), QStringLiteral("1 GB"),
                                     QStringLiteral("1"), QStringLiteral("2 GB"), QStringLiteral("0")},
        {});
    const QList<TRow> rows = Show(empty);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[1], (TRow{QStringLiteral("Kalan Disk Alanı 1 GB"), QStringLiteral("1"), QString()}));
    EXPECT_EQ(details.ChannelsWidth(), 150);

    Show(WorkedExample());
    ASSERT_EQ(details.ChannelsWidth(), 450);
    EXPECT_EQ(Show(empty).size(), 3); // the rows of the last opening are gone
    EXPECT_EQ(details.ChannelsWidth(), 450);
}

TEST_F(DetailsWindow, DeviceDotFollowsStateAndCapacity)
{
    struct TCase
    {
        const char *State, *Capacity, *Dot;
    } cases[] = {
        {"2", "0", "1"}, // a status-code device without channels is in alarm
        {"2", "8", "0"},
        {"1", "8", "1"},
        {"1", "0", "1"},
        {"0", "0", "0"},
        {"5", "4", "0"},
    };
    for (const TCase &c : cases) {
        const QString text = Report({QStringLiteral("1"), QStringLiteral("v"), QStringLiteral("d"),
                                        QStringLiteral("0"), QStringLiteral("b"), QStringLiteral("0")},
            {{QStringLiteral("S1"), QLatin1String(c.State), QLatin1String(c.Capacity),
                QStringLiteral("4,4")}});
        const QList<TRow> rows = Show(text);
        ASSERT_EQ(rows.size(), 4);
        EXPECT_EQ(rows[3].State, QLatin1String(c.Dot)) << "State " << c.State << ", Capacity " << c.Capacity;
    }
}

TEST_F(DetailsWindow, MissingDeviceIsLoggedAndTheRowsBeforeItStay)
{
    // The header announces three devices, the list holds one.
    const QString text = Report({QStringLiteral("3"), QStringLiteral("v"), QStringLiteral("d"),
                                    QStringLiteral("0"), QStringLiteral("b"), QStringLiteral("0")},
        {{QStringLiteral("S1"), QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("0,1")}});
    EXPECT_EQ(Show(text).size(), 4);
    EXPECT_TRUE(sandbox.LogText().contains(
        QStringLiteral("Bir hata oluştu. Hata kodu: 10004. List index out of bounds (1)")))
        << sandbox.LogText().toStdString();
}

TEST_F(DetailsWindow, ExtendedReportRowsAndNoLogForBadText)
{
    const QString json = QStringLiteral(
        R"({"ServerName":"Merkez","ServerIp":"127.0.0.7","Devices":[)"
        R"({"Serial":"A1001","ChannelCount":4,"Channels":[{"LineStatus":true,"RecordMethod":1},)"
        R"({"LineStatus":false,"RecordMethod":1},{"LineStatus":false,"RecordMethod":0},{"LineStatus":true,"RecordMethod":2}]},)"
        R"({"Serial":"A1002","ChannelCount":2,"Channels":[{"LineStatus":true,"RecordMethod":1},{"LineStatus":true,"RecordMethod":1}]}]})");
    const QList<TRow> expected{
        {QStringLiteral("Merkez(127.0.0.7)"), QStringLiteral("2"), QString()},
        {QStringLiteral("Aygıt SeriNo/Kapasite A1001 / 4"), QStringLiteral("1"), QStringLiteral("0,1,2,0")},
        {QStringLiteral("Aygıt SeriNo/Kapasite A1002 / 2"), QStringLiteral("0"), QStringLiteral("0,0")},
    };
    EXPECT_EQ(Show(json, true), expected);
    EXPECT_EQ(details.ChannelsWidth(), 150); // extended reports leave the width alone

    const QList<TRow> bad = Show(QStringLiteral("{not json"), true);
    ASSERT_EQ(bad.size(), 1);
    EXPECT_EQ(bad[0].Desc, QStringLiteral("()"));
    EXPECT_FALSE(sandbox.LogText().contains(QStringLiteral("Hata kodu")));
}

TEST_F(DetailsWindow, ChannelBoxesAreDrawnInTheirColours)
{
    // Device rows 3 (odd) and 4 (even): 0 green, 1 red, 2 plain, a non-number drawn as 0.
    const QString text = Report({QStringLiteral("2"), QStringLiteral("v"), QStringLiteral("d"),
                                    QStringLiteral("0"), QStringLiteral("b"), QStringLiteral("0")},
        {{QStringLiteral("S1"), QStringLiteral("0"), QStringLiteral("4"), QStringLiteral("0,1,2,x")},
            {QStringLiteral("S2"), QStringLiteral("0"), QStringLiteral("3"), QStringLiteral("2,1,0")}});
    QImage image;
    QRect odd, even;
    Show(text, false, [&] {
        TLAlarm->clearSelection();
        TLAlarm->setCurrentItem(nullptr);
        const QTreeWidget *list = TLAlarm;
        odd = list->visualItemRect(list->topLevelItem(3));
        even = list->visualItemRect(list->topLevelItem(4));
        const int left = list->header()->sectionViewportPosition(TFormDetails::Col_Channels);
        odd.setLeft(left);
        even.setLeft(left);
        image = list->viewport()->grab().toImage();
    });
    ASSERT_FALSE(image.isNull());
    const qreal scale = image.devicePixelRatio();
    // A point of box n away from its number: the lower left corner.
    auto box = [&](const QRect &cell, int n) {
        return image.pixelColor(
            QPoint(int((cell.left() + 15 * (n - 1) + 1) * scale), int((cell.bottom() - 1) * scale)));
    };
    EXPECT_EQ(box(odd, 1), QColor(64, 255, 64));
    EXPECT_EQ(box(odd, 2), QColor(255, 0, 0));
    EXPECT_EQ(box(odd, 3), QColor(239, 239, 239));
    EXPECT_EQ(box(odd, 4), QColor(64, 255, 64));
    EXPECT_EQ(box(even, 1), QColor(246, 247, 252));
    EXPECT_EQ(box(even, 2), QColor(255, 0, 0));
    EXPECT_EQ(box(even, 3), QColor(64, 255, 64));

    // The numbers: black on green, white on red.
    auto hasInk = [&](const QRect &cell, int n, const QColor &ink) {
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left() + 15 * (n - 1); x < cell.left() + 15 * n; ++x) {
                const QColor c = image.pixelColor(QPoint(int(x * scale), int(y * scale)));
                if (qAbs(c.red() - ink.red()) < 60 && qAbs(c.green() - ink.green()) < 60
                    && qAbs(c.blue() - ink.blue()) < 60)
                    return true;
            }
        return false;
    };
    EXPECT_TRUE(hasInk(odd, 1, Qt::black));
    EXPECT_TRUE(hasInk(odd, 2, Qt::white));
}

TEST(DetailsPlacement, TopRightCornerAtThePointerMovedInsideTheAvailableArea)
{
    const QRect area(100, 50, 800, 600); // x 100..899, y 50..649
    struct TCase
    {
        QPoint Pointer;
        QSize Frame;
        QPoint TopLeft;
    };
    const TCase cases[] = {
        {{600, 200}, {300, 170}, {300, 200}}, // room enough: the top-right corner at the pointer
        {{250, 200}, {300, 170}, {100, 200}}, // near the left edge
        {{600, 600}, {300, 170}, {300, 480}}, // near the bottom
        {{950, 700}, {300, 170}, {600, 480}}, // pointer beyond the area's right and bottom
        {{40, 10}, {300, 170}, {100, 50}}, // beyond the left and top
        {{899, 649}, {800, 600}, {100, 50}}, // exactly as large as the area
    };
    for (const TCase &c : cases)
        EXPECT_EQ(TFormDetails::PlaceAtPointer(c.Pointer, c.Frame, area), c.TopLeft)
            << c.Pointer.x() << ',' << c.Pointer.y();
}

TEST_F(DetailsWindow, OpensAtThePointerInsideTheScreenAndNeverWiderThanIt)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QString small = Report({QStringLiteral("0"), QStringLiteral("3.0"), QStringLiteral("1 GB"),
                                     QStringLiteral("0"), QStringLiteral("2 GB"), QStringLiteral("0")},
        {});
    // A device of 400 channels asks for a channel column far wider than any screen.
    const QString wide = Report({QStringLiteral("1"), QStringLiteral("2.9.4"), QStringLiteral("35.2 GB"),
                                    QStringLiteral("0"), QStringLiteral("120.0 GB"), QStringLiteral("0")},
        {{QStringLiteral("A1"), QStringLiteral("0"), QStringLiteral("400"), QStringLiteral("0,1")}});
    enum TWhere
    {
        AtPointer,
        LeftEdge,
        Bottom,
        Inside
    };
    struct TCase
    {
        QPoint Pointer;
        bool Wide;
        TWhere Where;
    };
    const TCase cases[] = {
        {area.topLeft() + QPoint(area.width() * 3 / 4, area.height() / 3), false, AtPointer},
        {area.topLeft() + QPoint(40, 60), false, LeftEdge},
        {area.bottomRight() - QPoint(5, 5), false, Bottom},
        {area.center(), true, Inside},
    };
    for (const TCase &c : cases) {
        QCursor::setPos(c.Pointer);
        if (QCursor::pos() != c.Pointer)
            GTEST_SKIP() << "the platform does not move the pointer";
        QRect frame;
        Show(c.Wide ? wide : small, false, [&] { frame = details.frameGeometry(); });
        const std::string where = std::to_string(c.Pointer.x()) + ',' + std::to_string(c.Pointer.y());
        EXPECT_TRUE(area.contains(frame)) << where;
        switch (c.Where) {
        case AtPointer:
            EXPECT_EQ(QPoint(frame.right() + 1, frame.top()), c.Pointer) << where;
            break;
        case LeftEdge:
            EXPECT_EQ(frame.topLeft(), QPoint(area.left(), c.Pointer.y())) << where;
            break;
        case Bottom:
            // raised from the bottom edge, its right edge still at the pointer
            EXPECT_EQ(QPoint(frame.right() + 1, frame.bottom()), QPoint(c.Pointer.x(), area.bottom()))
                << where;
            break;
        case Inside:
            EXPECT_EQ(frame.width(), area.width())
                << where; // widened for its channels, as far as the screen goes
            break;
        }
        if (!c.Wide) {
            EXPECT_LT(frame.width(), 500) << where; // 475 at first
        }
    }
}

TEST_F(DetailsWindow, StatusLineShowsWhatTheCallerSet)
{
    state = QStringLiteral("Alarm tespit edildi");
    time = QStringLiteral("09.06.2012   08:05:59");
    QString alarm, shownTime;
    QColor alarmColour;
    Show(WorkedExample(), false, [&] {
        alarm = lblAlarm->text();
        shownTime = lblTime->text();
        alarmColour = lblAlarm->palette().color(QPalette::WindowText);
    });
    EXPECT_EQ(alarm, QStringLiteral("Alarm tespit edildi"));
    EXPECT_EQ(shownTime, QStringLiteral("09.06.2012   08:05:59"));
    EXPECT_EQ(alarmColour, QColor(Qt::red));
    EXPECT_GE(lblTime->width(), 110);
    EXPECT_GE(lblTime->width(), lblTime->sizeHint().width()); // the whole time is shown
}

} // namespace
