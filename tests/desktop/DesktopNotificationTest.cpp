// A notification reaches a real notification daemon (dunst) on the session bus with the program's title
// and body; with no daemon on the bus the call says so at once, so that the caller shows the tray balloon.
// Runs under dbus-run-session inside the desktop session (dunst draws on the X display).
#include "console/DesktopNotification.h"
#include "console/Application.h"
#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
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

TEST(DesktopNotification, ReachesTheDaemonWithTitleAndBodyAndFailsWithoutOne)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "no session bus: run under dbus-run-session";
    ASSERT_FALSE(ServiceUp()) << "another notification daemon is on this bus";
    EXPECT_FALSE(
        SendDesktopNotification(QStringLiteral("ZYRdenetleyici"), QStringLiteral("kapali: Çalışmıyor")));

    // A config of its own: nothing from the machine's or the user's dunstrc.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile config(dir.filePath(QStringLiteral("dunstrc")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[global]\n    markup = full\n");
    config.close();
    QProcess dunst;
    dunst.setProcessChannelMode(QProcess::ForwardedChannels);
    dunst.start(QStringLiteral("dunst"), {QStringLiteral("-config"), config.fileName()});
    ASSERT_TRUE(dunst.waitForStarted(5000));
    ASSERT_TRUE(WaitFor(ServiceUp)) << "dunst did not take the notification service";

    const QString body = QStringLiteral("kapali: Çalışmıyor\nR&D <2>: Aygıt eksik tespit edildi");
    EXPECT_TRUE(SendDesktopNotification(QStringLiteral("ZYRdenetleyici"), body));
    ASSERT_TRUE(WaitFor([] {
        return Dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).trimmed() == "1";
    })) << "dunst shows no notification";

    // Closed, the notification moves to the history, which dunstctl prints as JSON.
    Dunstctl({QStringLiteral("close-all")});
    QJsonArray history;
    ASSERT_TRUE(WaitFor([&] {
        history = QJsonDocument::fromJson(Dunstctl({QStringLiteral("history")}))
                      .object()
                      .value(QStringLiteral("data"))
                      .toArray()
                      .at(0)
                      .toArray();
        return !history.isEmpty();
    }));
    ASSERT_EQ(1, history.size());
    const QJsonObject entry = history.at(0).toObject();
    EXPECT_EQ(QStringLiteral("ZYRdenetleyici"), Field(entry, "summary"));
    EXPECT_EQ(QStringLiteral("ZYRdenetleyici"), Field(entry, "appname"));
    // The daemon reads markup in the body, so it receives the text escaped and shows it as sent.
    EXPECT_EQ(QStringLiteral("kapali: Çalışmıyor\nR&amp;D &lt;2&gt;: Aygıt eksik tespit edildi"),
        Field(entry, "body"));

    dunst.terminate();
    dunst.waitForFinished(5000);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
