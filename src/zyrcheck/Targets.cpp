#include "zyrcheck/Targets.h"

#include "probe/CheckThread.h"
#include "zyrcheck/ZyrCheck.h"

#include <fstream>
#include <sstream>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decoding of one query component; '+' stands for a blank. False on a broken escape.
bool Unescape(const std::string &Text, std::string &Out)
{
    Out.clear();
    for (size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '%') {
            if (i + 2 >= Text.size())
                return false;
            const int high = HexDigit(Text[i + 1]), low = HexDigit(Text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            Out += char(high * 16 + low);
            i += 2;
        } else {
            Out += c == '+' ? ' ' : c;
        }
    }
    return true;
}

} // namespace

bool SplitValidTarget(const std::string &Address, bool Plus, std::string &Host, uint16_t &Port)
{
    if (!IsValidTarget(QString::fromStdString(Address)))
        return false;
    const size_t colon = Address.find(':');
    Host = Address.substr(0, colon);
    for (char &c : Host)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    Port = uint16_t(Plus ? DefaultPlusPort : DefaultProbePort);
    if (colon != std::string::npos)
        Port = uint16_t(std::stoi(Address.substr(colon + 1)));
    return true;
}

bool TTargetList::Parse(const std::string &Text, std::string &Error)
{
    std::vector<TTarget> list;
    std::istringstream in(Text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        std::istringstream words(line);
        std::string word;
        if (!(words >> word))
            continue;
        TTarget target;
        target.Address = word;
        bool sawPlus = false, sawDevices = false;
        while (words >> word) {
            long devices = 0;
            if (word == "plus" && !sawPlus) {
                target.Plus = sawPlus = true;
            } else if (word.rfind("devices=", 0) == 0 && !sawDevices
                && ReadWholeNumber(word.substr(8), 0, 1000000, devices)) {
                target.Devices = int(devices);
                sawDevices = true;
            } else {
                Error = "line " + std::to_string(number) + ": unexpected '" + word
                    + "' (a line is ADDRESS[:PORT] [plus] [devices=N])";
                return false;
            }
        }
        if (!SplitValidTarget(target.Address, target.Plus, target.Host, target.Port)) {
            Error = "line " + std::to_string(number) + ": invalid address '" + target.Address + "'";
            return false;
        }
        list.push_back(std::move(target));
    }
    targets = std::move(list);
    return true;
}

bool TTargetList::Load(const std::string &FileName, std::string &Error)
{
    std::ifstream in(FileName, std::ios::binary);
    if (!in) {
        Error = "cannot read " + FileName;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (!Parse(text.str(), Error)) {
        Error = FileName + ": " + Error;
        return false;
    }
    return true;
}

const TTarget *TTargetList::Find(const std::string &Address, std::optional<bool> Plus) const
{
    // The address is split once for each kind's default port, not once for each line: the exporter looks
    // up every request.
    std::string host[2];
    uint16_t port[2] = {0, 0};
    const bool valid[2] = {SplitValidTarget(Address, false, host[0], port[0]),
        SplitValidTarget(Address, true, host[1], port[1])};
    for (const TTarget &t : targets) {
        if (Plus && *Plus != t.Plus)
            continue;
        const int kind = t.Plus ? 1 : 0;
        if (valid[kind] && host[kind] == t.Host && port[kind] == t.Port)
            return &t;
    }
    return nullptr;
}

bool ParseProbeQuery(const std::string &Query, TProbeQuery &Out, std::string &Error)
{
    Out = {};
    if (Query.size() > MaxQueryLength) {
        Error = "query string longer than " + std::to_string(MaxQueryLength) + " bytes";
        return false;
    }
    bool sawTarget = false;
    size_t start = 0;
    while (start <= Query.size()) {
        size_t end = Query.find('&', start);
        if (end == std::string::npos)
            end = Query.size();
        const std::string pair = Query.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        const size_t equals = pair.find('=');
        std::string key, value;
        if (equals == std::string::npos || !Unescape(pair.substr(0, equals), key)
            || !Unescape(pair.substr(equals + 1), value)) {
            Error = "malformed query parameter";
            return false;
        }
        if (key == "target" && !sawTarget) {
            if (!IsValidTarget(QString::fromStdString(value))) {
                Error = "invalid target";
                return false;
            }
            Out.Target = value;
            sawTarget = true;
        } else if (key == "plus" && !Out.Plus) {
            if (value != "0" && value != "1") {
                Error = "plus must be 0 or 1";
                return false;
            }
            Out.Plus = value == "1";
        } else if (key == "devices" && !Out.Devices) {
            long devices = 0;
            if (!ReadWholeNumber(value, 0, 1000000, devices)) {
                Error = "devices must be a whole number from 0 to 1000000";
                return false;
            }
            Out.Devices = int(devices);
        } else {
            Error = "unexpected or repeated query parameter";
            return false;
        }
    }
    if (!sawTarget) {
        Error = "target missing";
        return false;
    }
    return true;
}
