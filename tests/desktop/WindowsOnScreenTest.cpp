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
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QWindow>
#include <string>

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

QString Run(const QString &Program, const QStringList &Args)
{
    QProcess process;
    process.start(Program, Args);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The window's frame as the X server has it: the client's place on the root window grown by the extents the
// window manager has set. Empty while the window is not viewable or not framed yet. The toolkit's own idea
// of the frame lags behind on a loaded desktop (seen reporting a 1x1 frame at the client's corner for a
// window the server had long placed right), so the place is read where the user sees it.
QRect FrameOnScreen(const QWidget &Window)
{
    const QString id = QString::number(Window.winId());
    const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    const auto field = [&](const char *Name) {
        const QRegularExpressionMatch m
            = QRegularExpression(QString::fromLatin1(Name) + QStringLiteral(":\\s*(-?\\d+)")).match(info);
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    };
    const QRegularExpressionMatch extents
        = QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)"))
              .match(Run(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")}));
    if (!info.contains(QStringLiteral("IsViewable")) || !extents.hasMatch())
        return QRect();
    const int left = extents.captured(1).toInt(), right = extents.captured(2).toInt();
    const int top = extents.captured(3).toInt(), bottom = extents.captured(4).toInt();
    return QRect(field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
        field("Width") + left + right, field("Height") + top + bottom);
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
        // A details window of its own: the first showing, before the window manager has ever framed it, is
        // the one a window manager may take differently; the second shows the window it has framed.
        TFormDetails details;
        for (const char *showing : {"first showing", "second showing"}) {
            QRect frame;
            WhileModal(
                [&] {
                    return details.ShowFor(QStringLiteral("Alarm tespit edildi"),
                        QStringLiteral("08.06.2012   17:46:00"), Report(c.Channels), false);
                },
                [&] {
                    // Shown and framed; a loaded desktop may apply the window manager's last move late, so
                    // the frame counts once it has held still for half a second.
                    QRect last;
                    QDeadlineTimer still(500);
                    WaitFor([&] {
                        const QRect now = FrameOnScreen(details);
                        if (now.isEmpty() || now != last) {
                            last = now;
                            still.setRemainingTime(500);
                        }
                        return still.hasExpired();
                    });
                    frame = last;
                    const QByteArray dir = qgetenv("ZYR_SCREENSHOT_DIR");
                    if (!dir.isEmpty() && c.Channels == 30)
                        screen->grabWindow(0).save(
                            QString::fromUtf8(dir) + QStringLiteral("/details-on-screen.png"));
                    details.reject();
                });
            const std::string where = std::string(c.Where) + ", " + showing;
            ASSERT_FALSE(frame.isEmpty()) << where << ": the window was not shown framed";
            EXPECT_TRUE(area.contains(frame))
                << where << ": frame " << frame.x() << ',' << frame.y() << ' ' << frame.width() << 'x'
                << frame.height() << " outside the area " << area.width() << 'x' << area.height();
            // Room enough: the frame's top-right corner exactly at the pointer.
            if (c.Channels == 8 && c.Pointer == area.center() + QPoint(250, 0)) {
                EXPECT_EQ(QPoint(frame.right() + 1, frame.top()), c.Pointer) << where;
            }
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
