// zyrsim: a fleet of simulated recording systems in one process (see docs/zyrsim.md).
#include "SimConfig.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace {

TSimulator *running = nullptr;

void OnSignal(int)
{
    if (running)
        running->Stop();
}

int Usage(const char *error)
{
    if (error)
        fprintf(stderr, "zyrsim: %s\n", error);
    fprintf(stderr,
        "kullanım: zyrsim [--config DOSYA] [--demo [--base 127.0.0.2]]\n"
        "              [--fleet N [--base 127.1.0.1] [--mix ok=85,plus=5,refuse=5,silent=5]\n"
        "               [--delay MS] [--port 17000]]\n");
    return 2;
}

const char *KindName(const TSimSystem &s)
{
    return s.Kind == TSimKind::Plus ? "plus" : "ordinary";
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<TSimSystem> systems;
    std::string config, base;
    bool demo = false;
    int fleet = 0, delay = 100, port = 17000;
    TFleetMix mix;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const char *v = nullptr;
        if (arg == "--demo") {
            demo = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(nullptr);
            return 0;
        } else if (!(v = value())) {
            return Usage(("eksik değer ya da bilinmeyen seçenek: " + arg).c_str());
        } else if (arg == "--config") {
            config = v;
        } else if (arg == "--fleet") {
            fleet = atoi(v);
        } else if (arg == "--base") {
            base = v;
        } else if (arg == "--delay") {
            delay = atoi(v);
        } else if (arg == "--port") {
            port = atoi(v);
        } else if (arg == "--mix") {
            if (!ParseMix(v, mix))
                return Usage("--mix ok=N,plus=N,refuse=N,silent=N olmalı");
        } else {
            return Usage(("bilinmeyen seçenek: " + arg).c_str());
        }
    }
    std::string error;
    if (!config.empty()) {
        std::ifstream in(config, std::ios::binary);
        if (!in)
            return Usage(("okunamadı: " + config).c_str());
        std::stringstream text;
        text << in.rdbuf();
        if (!ParseConfig(text.str(), systems, error))
            return Usage((config + ": " + error).c_str());
    }
    if (demo) {
        std::string prefix = "127.0.0.";
        int first = 2;
        if (!base.empty()) {
            const size_t dot = base.rfind('.');
            prefix = base.substr(0, dot + 1);
            first = atoi(base.c_str() + dot + 1);
        }
        for (TSimSystem &s : DemoFleet(prefix, first))
            systems.push_back(std::move(s));
    }
    if (fleet > 0 && !MakeFleet(fleet, base.empty() ? "127.1.0.1" : base, mix, delay, port, systems, error))
        return Usage(error.c_str());
    if (systems.empty())
        return Usage("hiç sistem yok");

    // Thousands of listeners and connections need descriptors.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    signal(SIGPIPE, SIG_IGN);

    TSimulator simulator(std::move(systems));
    if (!simulator.Bind(error)) {
        fprintf(stderr, "zyrsim: %s\n", error.c_str());
        return 1;
    }
    for (size_t i = 0; i < simulator.Systems().size(); ++i) {
        const TSimSystem &s = simulator.Systems()[i];
        printf("%s\t%s\t%s\t%s", s.Name.c_str(), simulator.Target(i).c_str(), KindName(s),
            (s.Kind == TSimKind::Plus ? s.ListMode : s.Mode).c_str());
        if (s.Expect >= 0)
            printf("\texpect=%d", s.Expect);
        printf("\n");
    }
    printf("READY %zu\n", simulator.Systems().size());
    fflush(stdout);

    running = &simulator;
    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    simulator.Run();
    running = nullptr;
    fprintf(stderr, "zyrsim: durdu, %llu bağlantı kabul edildi\n",
        static_cast<unsigned long long>(simulator.Accepted()));
    return 0;
}
