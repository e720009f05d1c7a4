// The details window on a real desktop (X server, window manager, system tray): opened at the pointer
// anywhere on the screen, the window and the frame the window manager draws round it lie inside the area
// the tray leaves free. With ZYR_SCREENSHOT_DIR set, the screen is saved as details-on-screen.png.
#include "console/Application.h"
#include "console/MessageBoxes.h"
#include "console/UnitDetails.h"
#include "dialogs/DialogTestUtil.h"
#include <gtest/gtest.h>
#include <QCursor>
#include <QDeadlineTimer>
#include <QLabel>
#include <QScreen>
#include <QWindow>

namespace {

// Lets the desktop work until Done holds (tests may spin the loop; the program never does).
bool WaitFor(const std::function<bool()> &Done, int Ms = 5000)
{
    const QDeadlineTimer deadline(Ms);
    while (!Done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

bool Framed(const QWidget &Window)
{
    return Window.isVisible() && Window.frameGeometry() != Window.geometry();
}

QString Group(const QStringList &Items)
{
    return QChar(5) + Items.join(QChar(4)) + QChar(6);
}

// An ordinary report with one device of the given channel count.
QString Report(int Channels)
{
    QStringList states;
    for (int i = 0; i < Channels; ++i)
        states << QString::number(i % 7 == 3 ? 1 : 0);
    const QStringList device{
        QStringLiteral("A1B2C3"), QStringLiteral("0"), QString::number(Channels), states.join(u',')};
    return Group({QStringLiteral("1"), QStringLiteral("2.9.4"), QStringLiteral("35.2 GB"),
               QStringLiteral("0"), QStringLiteral("120.0 GB"), QStringLiteral("0")})
        + QChar(4) + Group({Group(device)});
}

TEST(DetailsOnTheDesktop, OpensInsideTheAreaTheTrayLeavesFrameAndAll)
{
    TSandbox sandbox;
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    ASSERT_LT(area.height(), screen->geometry().height()) << "the tray's strip is not taken off the screen";

    // The main window the details open from, framed by the window manager.
    QWidget main;
    main.setWindowTitle(QStringLiteral("ZYRdenetleyici 2.1"));
    main.setGeometry(area.left() + 40, area.top() + 60, 500, 500);
    main.show();
    ASSERT_TRUE(WaitFor([&] { return Framed(main); })) << "the window manager did not frame the window";

    TFormDetails details;
    details.lblAlarm->setText(QStringLiteral("Alarm tespit edildi"));
    details.lblTime->setText(QStringLiteral("08.06.2012   17:46:00"));
    struct TCase
    {
        const char *Where;
        QPoint Pointer;
        int Channels;
    };
    const TCase cases[] = {
        {"at the pointer", area.center() + QPoint(250, 0), 8},
        {"near the left edge", area.topLeft() + QPoint(60, 200), 30},
        {"over the tray's corner", area.bottomRight() + QPoint(-2, 14), 8},
        {"wider than the screen", area.center(), 120},
    };
    for (const TCase &c : cases) {
        QCursor::setPos(c.Pointer);
        ASSERT_TRUE(WaitFor([&] { return QCursor::pos() == c.Pointer; })) << c.Where;
        QRect frame;
        WhileModal([&] { return details.ShowReport(Report(c.Channels)); },
            [&] {
                // Shown, framed, and left to the window manager a moment to settle.
                WaitFor([&] {
                    return details.windowHandle() && details.windowHandle()->isExposed() && Framed(details);
                });
                // A loaded desktop may apply the window manager's last move late: the frame counts once
                // it has held still for half a second.
                QRect last;
                QDeadlineTimer still(500);
                WaitFor([&] {
                    if (details.frameGeometry() != last) {
                        last = details.frameGeometry();
                        still.setRemainingTime(500);
                    }
                    return still.hasExpired();
                });
                frame = details.frameGeometry();
                const QByteArray dir = qgetenv("ZYR_SCREENSHOT_DIR");
                if (!dir.isEmpty() && c.Channels == 30)
                    screen->grabWindow(0).save(
                        QString::fromUtf8(dir) + QStringLiteral("/details-on-screen.png"));
                details.reject();
            });
        EXPECT_TRUE(area.contains(frame))
            << c.Where << ": frame " << frame.x() << ',' << frame.y() << ' ' << frame.width() << 'x'
            << frame.height() << " area " << area.width() << 'x' << area.height();
        if (c.Channels == 8 && c.Pointer == area.center() + QPoint(250, 0)) {
            EXPECT_EQ(
                QPoint(frame.right() + 1, frame.top()), c.Pointer); // room enough: exactly at the pointer
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    TMessageBoxHook::Enable(true);
    return RUN_ALL_TESTS();
}
