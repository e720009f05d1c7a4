#include "ProbeTestSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char **environ;

TFullListener::TFullListener()
{
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    if (bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(listener, 0) != 0)
        return;
    getsockname(listener, reinterpret_cast<sockaddr *>(&at), &len);
    port = ntohs(at.sin_port);
    fcntl(listener, F_SETFL, O_NONBLOCK); // for Drain
    // Fill the queue until a connect no longer completes.
    for (int i = 0; i < 16 && !ready; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        clients.push_back(fd);
        connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
        pollfd p{fd, POLLOUT, 0};
        ready = poll(&p, 1, 300) == 0;
    }
}

void TFullListener::Drain()
{
    for (const int fd : clients)
        close(fd);
    clients.clear();
    for (int fd;
         (fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0 || errno == EINTR;)
        if (fd >= 0)
            taken.push_back(fd);
}

TFullListener::~TFullListener()
{
    for (const int fd : clients)
        close(fd);
    for (const int fd : taken)
        close(fd);
    if (listener >= 0)
        close(listener);
}

bool TFleetProcess::Start(int count, const std::string &base)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    const std::string n = std::to_string(count);
    const char *argv[] = {ZYRSIM_PROGRAM, "--fleet", n.c_str(), "--base", base.c_str(), "--delay", "100",
        "--mix", "ok=85,plus=5,refuse=5,silent=5", nullptr};
    const int rc = posix_spawn(&pid, ZYRSIM_PROGRAM, &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return false;
    }
    out = fdopen(pipeFds[0], "r");
    char line[512];
    while (fgets(line, sizeof line, out)) {
        std::string text(line);
        if (text.rfind("READY", 0) == 0)
            return true;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        std::istringstream in(text);
        std::vector<std::string> fields;
        for (std::string f; std::getline(in, f, '\t');)
            fields.push_back(f);
        lines.push_back(fields);
    }
    return false; // exited before it was ready (an address already taken)
}

bool TFleetProcess::StartSomewhere(int count)
{
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 5; ++attempt) {
        Stop();
        lines.clear();
        if (Start(count, "127." + std::to_string(10 + random() % 180) + ".0.1"))
            return true;
    }
    return false;
}

int TFleetProcess::Stop()
{
    int status = -1;
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
        pid = -1;
    }
    if (out)
        fclose(out);
    out = nullptr;
    return status;
}
