#include "SimFleet.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

std::unique_ptr<TSimulator> StartSimulator(std::vector<TSimSystem> Systems)
{
    auto sim = std::make_unique<TSimulator>(std::move(Systems));
    std::string error;
    if (!sim->Start(error)) {
        ADD_FAILURE() << "simulator: " << error;
        return nullptr;
    }
    return sim;
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
