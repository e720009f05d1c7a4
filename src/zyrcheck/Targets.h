#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A system the exporter may probe: one line of the targets file, "ADDRESS[:PORT] [plus] [devices=N]".
struct TTarget
{
    std::string Address; // as written
    std::string Host; // lower case
    uint16_t Port = 0; // the address's port, or the kind's default
    bool Plus = false;
    int Devices = 0;
};

// Splits a valid address (IsValidTarget) into its lower-cased host and its port, the kind's default when
// it names none.
bool SplitValidTarget(const std::string &Address, bool Plus, std::string &Host, uint16_t &Port);

class TTargetList
{
public:
    // Reads the file's text. False with a message naming the line on the first error.
    bool Parse(const std::string &Text, std::string &Error);
    bool Load(const std::string &FileName, std::string &Error);

    // The listed entry a request names: the same host and port, and the same kind when the request gives
    // one (Plus). Without a kind, the first entry whose host and port match under its own kind's default.
    const TTarget *Find(const std::string &Address, std::optional<bool> Plus) const;
    size_t Size() const { return targets.size(); }
    const std::vector<TTarget> &Targets() const { return targets; }

private:
    std::vector<TTarget> targets;
};

// The query of a /probe request, validated.
struct TProbeQuery
{
    std::string Target;
    std::optional<bool> Plus;
    std::optional<int> Devices;
};

// Longest query string accepted; longer ones are refused before anything else is read.
constexpr size_t MaxQueryLength = 512;

// Reads a raw query string (without '?'): only target, plus (0|1) and devices (decimal), each at most once,
// target required and a valid address. Percent-encoding is decoded. False with the reason on any fault.
bool ParseProbeQuery(const std::string &Query, TProbeQuery &Out, std::string &Error);
