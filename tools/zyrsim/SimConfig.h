#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One simulated recording system, as read from the config file, flags or a generator.
struct TSimDevice
{
    std::string Serial;
    int32_t State = 0; // ordinary systems
    int32_t Capacity = 0; // ordinary: capacity; extended: ChannelCount
    std::string
        Channels; // ordinary: "0,0,1"; extended: one code per channel, 0 ok, 1 no line, 2 not recorded
};

enum class TSimKind
{
    Ordinary,
    Plus
};

struct TSimSystem
{
    std::string Name;
    TSimKind Kind = TSimKind::Ordinary;
    std::string Host = "127.0.0.1"; // "auto": a free loopback address (needed for extended systems in tests)
    int Port = -1; // -1: the kind's default; 0: any free port
    std::string Mode = "ok";
    int DelayMs = 0;
    int SplitAt = -1; // bytes in the first piece of a split reply; -1: half
    int GapMs = 200; // pause before the second piece
    std::optional<int32_t> Length; // length field in place of the real one
    std::optional<std::string> Report; // verbatim report text / JSON
    // report description
    std::string Version = "2.9.4";
    std::string FreeDisk = "35.2 GB";
    int DiskAlarm = 0;
    std::string FreeBackup = "120.0 GB";
    int BackupAlarm = 0;
    std::optional<int32_t> Count; // announced device count in place of the real one
    std::vector<TSimDevice> Devices;
    // extended systems
    std::vector<int> Closed; // ports left closed; 0 names the system's own port
    std::string ListMode = "ok";
    int ListDelayMs = 0;
    std::string ServerName = "Merkez";
    std::string ServerIp;
    int Expect = -1; // device count the console should expect (printed only)
};

int DefaultPort(TSimKind kind);
// The report text (ordinary) or JSON device list (extended) the system serves.
std::string BuildReport(const TSimSystem &system);
// Reads the config file format of docs/zyrsim.md. False with a message naming the line on error.
bool ParseConfig(const std::string &text, std::vector<TSimSystem> &systems, std::string &error);
// "\4", "\5", "\6", "\\", "\xHH", "\n" in verbatim texts.
std::string Unescape(const std::string &text);
// The demo fleet: one system of each kind a console should show, from base address 127.0.0.<first>.
std::vector<TSimSystem> DemoFleet(const std::string &prefix, int first);
// A benchmark fleet: count systems on consecutive addresses from base, by percentages of each kind.
struct TFleetMix
{
    int Ok = 85, Plus = 5, Refuse = 5, Silent = 5;
};
bool MakeFleet(int count, const std::string &base, const TFleetMix &mix, int delayMs, int port,
    std::vector<TSimSystem> &systems, std::string &error);
bool ParseMix(const std::string &text, TFleetMix &mix);
