// The window thread while status mails go out: the real main window sends the status mails of "Gönder"
// to a mail server that accepts every connection and never answers, one mail per address, each waiting
// its TimeOut for the greeting. A 10 ms timer on the window thread measures how long it went without its
// event loop; the list is asked to repaint on every tick.
//
//   zyr_bench_mail [--addresses 10] [--timeout 1000] [--rounds 3]
//
// Prints "key value" lines for scripts/bench.
#include "ProcStats.h"

#include "console/Application.h"
#include "console/Main.h"
#include "console/ServiceList.h"
#include "platform/Logger.h"
#include "session/ConsoleSession.h"

#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace bench;

namespace {

// Accepted by the kernel, never read: the greeting never comes.
int SilentListener(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 256) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    port = ntohs(a.sin_port);
    return fd;
}

struct TRound
{
    double WallMs = 0;
    double LongestGapMs = 0;
};

TRound SendRound(TConsoleSession &session, TMainForm &form)
{
    QWidget *list = form.findChild<TServiceListView *>(QStringLiteral("ServiceList"))->viewport();
    TRound round;
    int64_t last = NowNs(), longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int64_t now = NowNs();
        longest = std::max(longest, now - last);
        last = now;
        list->update();
    });
    QEventLoop idle;
    QObject::connect(&session, &TConsoleSession::BusyChanged, &idle, [&idle](bool busy) {
        if (!busy)
            idle.quit();
    });
    const int64_t start = NowNs();
    tick.start();
    session.SendStatusMails(); // "Gönder", confirmed
    if (session.Busy())
        idle.exec();
    const int64_t end = NowNs();
    longest = std::max(longest, end - last);
    round.WallMs = (end - start) / 1e6;
    round.LongestGapMs = longest / 1e6;
    return round;
}

} // namespace

int main(int argc, char **argv)
{
    int addresses = 10, timeOut = 1000, rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--addresses") == 0)
            addresses = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--timeout") == 0)
            timeOut = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--rounds") == 0)
            rounds = atoi(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    TApplication app(qtArgc, argv);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    TLogger log(QStringLiteral("ZYRdenetleyici.log"));
    Logger = &log;
    int port = 0;
    const int listener = SilentListener(port);
    if (listener < 0) {
        fprintf(stderr, "no loopback listener\n");
        return 1;
    }
    std::vector<double> walls, gaps;
    {
        TConsoleSession session(QDir::currentPath(), QStringLiteral("ZYRdenetleyici.dat"));
        TMainForm form(session);
        form.show();
        TLiveSettings s = session.Settings();
        for (int i = 0; i < addresses; ++i)
            s.Emails.SetChecked(s.Emails.Add(QStringLiteral("nobetci%1@example.com").arg(i)), true);
        s.Host = QStringLiteral("127.0.0.1");
        s.Port = port;
        s.From = QStringLiteral("denetleyici@example.com");
        s.TimeOut = timeOut;
        session.SetSettings(s);
        // Not answering: a status mail lists it under every mail rule.
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), QStringLiteral("Merkez"), QStringLiteral("127.0.0.1:1"), QString(),
            QStringLiteral("0"), QStringLiteral("1"), QString(), QString(), QStringLiteral("0")};
        session.ListForView().Add(r);
        // The first paint loads the fonts: not part of a mail round.
        form.repaint();
        QCoreApplication::processEvents();
        for (int i = 0; i < rounds; ++i) {
            const TRound round = SendRound(session, form);
            printf("round %d addresses %d timeout_ms %d wall_ms %.1f longest_gap_ms %.1f\n", i + 1, addresses,
                timeOut, round.WallMs, round.LongestGapMs);
            fflush(stdout);
            walls.push_back(round.WallMs);
            gaps.push_back(round.LongestGapMs);
        }
    }
    ::close(listener);
    Logger = nullptr;
    printf("mail_addresses %d\n", addresses);
    printf("mail_timeout_ms %d\n", timeOut);
    printf("mail_round_ms %.1f\n", Median(walls));
    printf("mail_stall_ms %.1f\n", *std::max_element(gaps.begin(), gaps.end()));
    return 0;
}
