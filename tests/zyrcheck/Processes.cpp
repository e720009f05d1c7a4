#include "Processes.h"

#include <httplib.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

bool TChild::Start(const std::vector<std::string> &Argv, const std::string &OutFile,
    const std::string &ErrFile, const std::map<std::string, std::string> &Env)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (OutFile.empty()) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (!ErrFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);

    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!Env.count(entry.substr(0, entry.find('='))))
            env.push_back(entry);
    }
    for (const auto &[key, value] : Env)
        env.push_back(key + "=" + value);
    std::vector<char *> argv, envp;
    for (const std::string &a : Argv)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipeFds[1] >= 0)
        close(pipeFds[1]);
    if (rc != 0) {
        if (pipeFds[0] >= 0)
            close(pipeFds[0]);
        pid = -1;
        return false;
    }
    out = pipeFds[0];
    return true;
}

std::string TChild::WaitForLine(const std::string &Text, std::chrono::milliseconds Limit)
{
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    for (;;) {
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (line.find(Text) != std::string::npos)
                return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (out < 0 || left.count() <= 0)
            return {};
        pollfd p{out, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0)
            return {};
        char buffer[4096];
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n <= 0)
            return {};
        pending.append(buffer, size_t(n));
    }
}

bool TChild::Running()
{
    if (pid <= 0)
        return false;
    int s = 0;
    if (waitpid(pid, &s, WNOHANG) == pid) {
        status = s;
        pid = -1;
        return false;
    }
    return true;
}

int TChild::Stop(std::chrono::milliseconds Grace)
{
    if (pid > 0) {
        const pid_t group = pid;
        kill(-group, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + Grace;
        int s = 0;
        pid_t done = 0;
        while ((done = waitpid(pid, &s, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (done != pid) {
            kill(-group, SIGKILL);
            waitpid(pid, &s, 0);
        }
        // Whatever the program started in its group goes with it.
        kill(-group, SIGKILL);
        status = s;
        pid = -1;
    }
    if (out >= 0)
        close(out);
    out = -1;
    return status;
}

namespace {

long StatusKb(pid_t Pid, const std::string &Field)
{
    std::ifstream in("/proc/" + std::to_string(Pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(Field, 0) == 0)
            return std::stol(line.substr(Field.size()));
    return -1;
}

} // namespace

long ResidentKb(pid_t Pid)
{
    return StatusKb(Pid, "VmRSS:");
}
long PeakResidentKb(pid_t Pid)
{
    return StatusKb(Pid, "VmHWM:");
}

std::string ReadFile(const std::string &Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string &Path, const std::string &Text)
{
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << Text;
    return bool(out);
}

THttpAnswer HttpGet(int Port, const std::string &Path, std::chrono::milliseconds Limit,
    const std::vector<std::pair<std::string, std::string>> &Headers)
{
    httplib::Client client("127.0.0.1", Port);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Limit);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Limit - seconds);
    client.set_connection_timeout(seconds.count(), micros.count());
    client.set_read_timeout(seconds.count(), micros.count());
    httplib::Headers headers;
    for (const auto &[key, value] : Headers)
        headers.emplace(key, value);
    const httplib::Result result = client.Get(Path, headers);
    if (!result)
        return {};
    return {result->status, result->body};
}

bool TExporterProcess::Start(const std::vector<std::string> &Args)
{
    std::vector<std::string> argv = {ZYRCHECK_PROGRAM, "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), Args.begin(), Args.end());
    if (!Child.Start(argv))
        return false;
    const std::string line = Child.WaitForLine("listening on", std::chrono::seconds(20));
    const size_t colon = line.rfind(':');
    if (colon == std::string::npos)
        return false;
    Port = std::stoi(line.substr(colon + 1));
    return Port > 0;
}

double SampleOf(const std::string &Exposition, const std::string &Name)
{
    std::istringstream in(Exposition);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(Name + " ", 0) == 0)
            return std::stod(line.substr(Name.size() + 1));
    return std::nan("");
}
