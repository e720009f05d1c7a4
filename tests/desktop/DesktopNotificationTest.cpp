// A notification reaches a real notification daemon (dunst) on the session bus with the program's title
// and body; with no daemon on the bus the call says so at once, so that the caller shows the tray balloon.
// The main window shows the notifications of its session's periodic cycles this way.
// Runs under dbus-run-session inside the desktop session (dunst draws on the X display).
#include "console/DesktopNotification.h"
#include "console/Application.h"
#include "console/Main.h"
#include "session/ConsoleSession.h"
#include "SimFleet.h"
#include "WaitUntil.h"
#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

bool WaitFor(const std::function<bool()> &Done, int Ms = 10000)
{
    const QDeadlineTimer deadline(Ms);
    while (!Done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

QByteArray Dunstctl(const QStringList &Args)
{
    QProcess ctl;
    ctl.start(QStringLiteral("dunstctl"), Args);
    if (!ctl.waitForFinished(5000))
        return {};
    return ctl.readAllStandardOutput();
}

bool ServiceUp()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications"));
}

QString Field(const QJsonObject &Entry, const char *Name)
{
    return Entry.value(QLatin1String(Name)).toObject().value(QStringLiteral("data")).toString();
}

// dunst on the test's bus, with a config of its own: nothing from the machine's or the user's dunstrc.
class TDunst
{
public:
    bool Start()
    {
        QFile config(dir.filePath(QStringLiteral("dunstrc")));
        if (!dir.isValid() || !config.open(QIODevice::WriteOnly))
            return false;
        config.write("[global]\n    markup = full\n");
        config.close();
        dunst.setProcessChannelMode(QProcess::ForwardedChannels);
        dunst.start(QStringLiteral("dunst"), {QStringLiteral("-config"), config.fileName()});
        return dunst.waitForStarted(5000) && WaitFor(ServiceUp);
    }
    ~TDunst()
    {
        dunst.terminate();
        dunst.waitForFinished(5000);
        WaitFor([] { return !ServiceUp(); }, 5000);
    }
    // The notifications shown so far, closed and read back from the history (newest first).
    QJsonArray Closed()
    {
        Dunstctl({QStringLiteral("close-all")});
        QJsonArray history;
        WaitFor([&] {
            history = QJsonDocument::fromJson(Dunstctl({QStringLiteral("history")}))
                          .object()
                          .value(QStringLiteral("data"))
                          .toArray()
                          .at(0)
                          .toArray();
            return !history.isEmpty();
        });
        return history;
    }

private:
    QTemporaryDir dir;
    QProcess dunst;
};

TEST(DesktopNotification, ReachesTheDaemonWithTitleAndBodyAndFailsWithoutOne)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "no session bus: run under dbus-run-session";
    ASSERT_FALSE(ServiceUp()) << "another notification daemon is on this bus";
    EXPECT_FALSE(
        SendDesktopNotification(QStringLiteral("ZYRdenetleyici"), QStringLiteral("kapali: Çalışmıyor")));

    TDunst dunst;
    ASSERT_TRUE(dunst.Start()) << "dunst did not take the notification service";

    const QString body = QStringLiteral("kapali: Çalışmıyor\nR&D <2>: Aygıt eksik tespit edildi");
    EXPECT_TRUE(SendDesktopNotification(QStringLiteral("ZYRdenetleyici"), body));
    ASSERT_TRUE(WaitFor([] {
        return Dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).trimmed() == "1";
    })) << "dunst shows no notification";

    // Closed, the notification moves to the history, which dunstctl prints as JSON.
    const QJsonArray history = dunst.Closed();
    ASSERT_EQ(1, history.size());
    const QJsonObject entry = history.at(0).toObject();
    EXPECT_EQ(QStringLiteral("ZYRdenetleyici"), Field(entry, "summary"));
    EXPECT_EQ(QStringLiteral("ZYRdenetleyici"), Field(entry, "appname"));
    // The daemon reads markup in the body, so it receives the text escaped and shows it as sent.
    EXPECT_EQ(QStringLiteral("kapali: Çalışmıyor\nR&amp;D &lt;2&gt;: Aygıt eksik tespit edildi"),
        Field(entry, "body"));
}

// A periodic cycle in which marked systems entered an alarm state: the window tells the desktop, one line
// a system; the menu's check and a cycle with nothing new tell nothing.
TEST(DesktopNotification, PeriodicCycleOfTheSessionIsToldByTheWindow)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "no session bus: run under dbus-run-session";
    TDunst dunst;
    ASSERT_TRUE(dunst.Start()) << "dunst did not take the notification service";
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    TSimSystem down;
    down.Name = "kapali";
    down.Port = 0;
    down.Mode = "refuse";
    TSimSystem alarm = down;
    alarm.Name = "alarmli";
    alarm.Mode = "ok";
    alarm.Devices = {{"A1B2C3", 0, 4, "0,1,0,0"}};
    const auto sim = StartSimulator({down, alarm});
    ASSERT_TRUE(sim);
    {
        TConsoleSession session(work.path(), QStringLiteral("ZYRdenetleyici.dat"));
        TMainForm form(session);
        for (size_t i = 0; i < sim->Systems().size(); ++i) {
            TSystemRecord r;
            r.Cells = {QStringLiteral("1"), QString::fromStdString(sim->Systems()[i].Name),
                QString::fromStdString(sim->Target(i)), QString(), QStringLiteral("1"), QStringLiteral("0"),
                QString(), QString(), QStringLiteral("0")};
            session.ListForView().Add(r);
        }
        TLiveSettings s = session.Settings();
        s.BeepAlarm = false;
        session.SetSettings(s);
        auto displayed = [] {
            return Dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).trimmed();
        };
        for (const TCheckOrigin origin : {TCheckOrigin::Menu, TCheckOrigin::Timer, TCheckOrigin::Timer}) {
            session.Engine().CycleThenAlarm(origin);
            ASSERT_TRUE(WaitUntil([&] { return !session.Busy(); }));
        }
        EXPECT_TRUE(WaitFor([&] { return displayed() == "1"; })) << "dunst shows " << displayed().constData();
        QCoreApplication::processEvents();
        EXPECT_EQ(displayed(), "1");
    }
    QDir::setCurrent(previous);
    const QJsonArray history = dunst.Closed();
    ASSERT_EQ(1, history.size());
    const QJsonObject entry = history.at(0).toObject();
    EXPECT_EQ(QStringLiteral("ZYRdenetleyici"), Field(entry, "summary"));
    EXPECT_EQ(QStringLiteral("kapali: Çalışmıyor\nalarmli: Alarm tespit edildi"), Field(entry, "body"));
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
