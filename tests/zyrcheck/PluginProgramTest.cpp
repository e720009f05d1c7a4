// The zyrcheck program as a monitoring engine runs it: arguments, exit codes, output and what it leaves
// behind.
#include "Fleet.h"
#include "Processes.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <regex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun
{
    int Exit = -1;
    std::string Out;
    double Seconds = 0;
};

TRun RunPlugin(const std::vector<std::string> &Args, const std::string &Folder = {})
{
    QTemporaryDir dir;
    const std::string out = (Folder.empty() ? dir.path().toStdString() : Folder) + "/out.txt";
    std::vector<std::string> argv = {ZYRCHECK_PROGRAM};
    argv.insert(argv.end(), Args.begin(), Args.end());
    TChild child;
    const auto start = std::chrono::steady_clock::now();
    if (!child.Start(argv, out))
        return {};
    int status = -1;
    waitpid(child.Pid(), &status, 0);
    TRun run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadFile(out);
    return run;
}

const std::regex StatusLine(
    R"(^ZYR (OK|CRITICAL) - [^|\n]+ \| 'time'=[0-9]+\.[0-9]{6}s;;;0( '[a-z_]+'=[0-9]+B?;;[0-9:]*;0)*\n)");

} // namespace

TEST(PluginProgram, ExitCodeAndStatusLineForEveryBehaviour)
{
    TRunningFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    // All at once, as a monitoring engine runs its checks.
    std::vector<std::unique_ptr<TChild>> children;
    QTemporaryDir dir;
    for (size_t i = 0; i < fleet.Size(); ++i) {
        std::vector<std::string> argv
            = {ZYRCHECK_PROGRAM, "-H", fleet.Target(i), "--probe-timeout", std::to_string(FleetProbeTimeOut)};
        if (fleet.Plus(i))
            argv.push_back("--plus");
        if (fleet.Devices(i) > 0)
            argv.insert(argv.end(), {"--devices", std::to_string(fleet.Devices(i))});
        children.push_back(std::make_unique<TChild>());
        ASSERT_TRUE(children.back()->Start(argv, dir.path().toStdString() + "/" + std::to_string(i)));
    }
    const char *const texts[] = {"", "Çalışmıyor", "Çalışıyor", "Çalışıyor", "Aygıt eksik tespit edildi",
        "Aygıt fazla tespit edildi", "Alarm tespit edildi"};
    for (size_t i = 0; i < fleet.Size(); ++i) {
        SCOPED_TRACE(fleet.Name(i));
        int status = -1;
        waitpid(children[i]->Pid(), &status, 0);
        const int want = fleet.Cases[i].State;
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), want == 2 || want == 3 ? 0 : 2);
        const std::string out = ReadFile(dir.path().toStdString() + "/" + std::to_string(i));
        EXPECT_TRUE(std::regex_search(out, StatusLine)) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out; // no -v: the status line alone
        EXPECT_NE(out.find(std::string(" - ") + texts[want] + ":"), std::string::npos) << out;
        if (want == 2) {
            EXPECT_NE(out.find("no report"), std::string::npos) << out;
        }
    }
}

TEST(PluginProgram, UnknownForBadArgumentsHelpVersionAndAnExceededLimit)
{
    struct TCase
    {
        std::vector<std::string> Args;
        std::string Start; // of the output
    };
    const std::vector<TCase> cases = {
        {{}, "ZYR UNKNOWN - no address given (-H)\nUsage: zyrcheck -H"},
        {{"-H", "a b"}, "ZYR UNKNOWN - invalid address 'a b'\n"},
        {{"-H", "h:99999"}, "ZYR UNKNOWN - invalid address"},
        {{"-H", "h", "-t", "0"}, "ZYR UNKNOWN - -t needs"},
        {{"-H", "h", "-t", "x"}, "ZYR UNKNOWN - -t needs"},
        {{"-H", "h", "--devices", "-1"}, "ZYR UNKNOWN - --devices needs"},
        {{"-H", "h", "--probe-timeout", "5s"}, "ZYR UNKNOWN - --probe-timeout needs"},
        {{"-H", "h", "--bogus"}, "ZYR UNKNOWN - unknown option --bogus"},
        {{"-H", "h", "extra"}, "ZYR UNKNOWN - unexpected argument 'extra'"},
        {{"-H"}, "ZYR UNKNOWN - option -H needs a value"},
        {{"--version"}, "zyrcheck 2.1.0.1 (ZYRdenetleyici 2.1)\n"},
        {{"-V", "-H", "bad host"}, "zyrcheck 2.1.0.1"},
        {{"-h"}, "zyrcheck 2.1.0.1"},
        {{"--help", "--bogus"}, "zyrcheck 2.1.0.1"},
    };
    for (const TCase &c : cases) {
        const TRun run = RunPlugin(c.Args);
        EXPECT_EQ(run.Exit, 3) << c.Start;
        EXPECT_EQ(run.Out.substr(0, c.Start.size()), c.Start) << run.Out;
    }
    const TRun help = RunPlugin({"--help"});
    for (const char *option : {"-H, --hostname", "--plus", "--devices", "--probe-timeout", "-t, --timeout",
             "-v, --verbose", "-V, --version"})
        EXPECT_NE(help.Out.find(option), std::string::npos) << option;

    // A listener whose accept queue is full never completes a connect; with no connect limit of the probe's
    // own, only -t ends the run.
    const TFullListener full(RandomLoopbackHost());
    ASSERT_TRUE(full.Ready());
    const TRun late = RunPlugin({"-H", full.Target(), "--probe-timeout", "0", "-t", "1"});
    EXPECT_EQ(late.Exit, 3);
    EXPECT_EQ(late.Out, "ZYR UNKNOWN - check timed out after 1 s\n");
    EXPECT_GE(late.Seconds, 0.95);
    EXPECT_LT(late.Seconds, 3.0);
}

TEST(PluginProgram, VerboseRowsAndNoFileWritten)
{
    TRunningFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    size_t alarm = 0;
    while (fleet.Name(alarm) != "kanal-alarmi")
        ++alarm;

    // Run from an empty folder with an empty home: afterwards both are still empty, and so is every file
    // the program could have opened for writing (strace sees each open).
    QTemporaryDir work, home, trace;
    const std::string traceFile = trace.path().toStdString() + "/trace";
    TChild child;
    const std::vector<std::string> argv = {STRACE_PROGRAM, "-f", "-qq", "-e",
        "trace=open,openat,openat2,creat,mkdir,mkdirat,rename,renameat,renameat2,unlink,unlinkat,truncate",
        "-o", traceFile, ZYRCHECK_PROGRAM, "-H", fleet.Target(alarm), "--devices", "2", "-v"};
    const QString oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    const std::string out = trace.path().toStdString() + "/out";
    // A leak check at exit stops the process's threads with ptrace, which strace already holds.
    const char *sanitizer = getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0";
    ASSERT_TRUE(child.Start(argv, out, {},
        {{"ASAN_OPTIONS", asanOptions}, {"HOME", home.path().toStdString()},
            {"XDG_CONFIG_HOME", home.path().toStdString() + "/c"},
            {"XDG_DATA_HOME", home.path().toStdString() + "/d"},
            {"XDG_CACHE_HOME", home.path().toStdString() + "/k"}}));
    int status = -1;
    waitpid(child.Pid(), &status, 0);
    QDir::setCurrent(oldDir);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(ReadFile(out).substr(ReadFile(out).find('\n') + 1),
        "Sunucu versiyon 2.9.4\n"
        "Kalan Disk Alanı 35.2 GB   0\n"
        "Kalan Yedekleme Disk Alanı 120.0 GB   0\n"
        "Aygıt SeriNo/Kapasite A1B2C3 / 8   0   0,0,1,2,0,0,0,0\n"
        "Aygıt SeriNo/Kapasite D4E5F6 / 30   0   0,0\n");
    EXPECT_TRUE(QDir(work.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_TRUE(QDir(home.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    const std::string calls = ReadFile(traceFile);
    ASSERT_NE(calls.find("openat("), std::string::npos) << "strace saw nothing";
    std::istringstream lines(calls);
    for (std::string line; std::getline(lines, line);) {
        const bool writes = line.find("O_WRONLY") != std::string::npos
            || line.find("O_RDWR") != std::string::npos || line.find("O_CREAT") != std::string::npos
            || line.find("creat(") != std::string::npos || line.find("mkdir") != std::string::npos
            || line.find("rename") != std::string::npos || line.find("unlink") != std::string::npos
            || line.find("truncate(") != std::string::npos;
        // /dev/null and the like are no files of the program's, nor is ThreadSanitizer's scratch file.
        if (writes && line.find("\"/dev/") == std::string::npos
            && line.find("/tsan.rodata.") == std::string::npos)
            ADD_FAILURE() << line;
    }
}
