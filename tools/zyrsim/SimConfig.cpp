#include "SimConfig.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <sstream>

int DefaultPort(TSimKind kind)
{
    return kind == TSimKind::Plus ? 80 : 17000;
}

namespace {

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string OrdinaryReport(const TSimSystem &s)
{
    const std::string sep(1, '\4'), open(1, '\5'), close(1, '\6');
    const int32_t count = s.Count ? *s.Count : int32_t(s.Devices.size());
    std::string r = open + std::to_string(count) + sep + s.Version + sep + s.FreeDisk + sep
        + std::to_string(s.DiskAlarm) + sep + s.FreeBackup + sep + std::to_string(s.BackupAlarm) + close + sep
        + open;
    for (size_t i = 0; i < s.Devices.size(); ++i) {
        const TSimDevice &d = s.Devices[i];
        if (i > 0)
            r += sep;
        r += open + d.Serial + sep + std::to_string(d.State) + sep + std::to_string(d.Capacity) + sep
            + d.Channels + close;
    }
    return r + close;
}

std::string PlusReport(const TSimSystem &s)
{
    std::string r = "{\"ServerName\":" + JsonString(s.ServerName)
        + ",\"ServerIp\":" + JsonString(s.ServerIp.empty() ? s.Host : s.ServerIp) + ",\"Devices\":[";
    for (size_t i = 0; i < s.Devices.size(); ++i) {
        const TSimDevice &d = s.Devices[i];
        if (i > 0)
            r += ',';
        r += "{\"Serial\":" + JsonString(d.Serial)
            + ",\"Frekans\":8000,\"Bit\":16,\"Bloke\":false,\"ChannelCount\":" + std::to_string(d.Capacity)
            + ",\"Firmware\":\"1.4.2\",\"DeviceType\":1,\"AudioCodec\":2,\"Channels\":[";
        for (size_t c = 0; c < d.Channels.size(); ++c) {
            const char code = d.Channels[c];
            if (c > 0)
                r += ',';
            r += "{\"caption\":\"Kanal " + std::to_string(c + 1) + "\",\"ChannelStatus\":true,\"LineStatus\":"
                + (code == '1' ? "false" : "true") + ",\"RecordMethod\":" + (code == '2' ? "0" : "1")
                + ",\"Radio\":false,\"Index\":" + std::to_string(c) + "}";
        }
        r += "]}";
    }
    return r + "]}";
}

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ToInt(const std::string &text, int &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = int(v);
    return true;
}

bool ParseHostPort(const std::string &text, TSimSystem &s)
{
    const size_t colon = text.find(':');
    s.Host = text.substr(0, colon);
    if (colon != std::string::npos && !ToInt(text.substr(colon + 1), s.Port))
        return false;
    in_addr a{};
    return s.Host == "auto"
        || (inet_pton(AF_INET, s.Host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127);
}

bool SetKey(TSimSystem &s, const std::string &key, const std::string &value, std::string &why)
{
    int n = 0;
    auto number = [&](int &field) {
        if (!ToInt(value, n)) {
            why = "sayı bekleniyor";
            return false;
        }
        field = n;
        return true;
    };
    if (key == "type") {
        if (value != "ordinary" && value != "plus")
            return why = "ordinary ya da plus bekleniyor", false;
        s.Kind = value == "plus" ? TSimKind::Plus : TSimKind::Ordinary;
    } else if (key == "address") {
        if (!ParseHostPort(value, s))
            return why = "127.x.y.z[:port] ya da auto bekleniyor", false;
    } else if (key == "mode") {
        s.Mode = value;
    } else if (key == "delay") {
        return number(s.DelayMs);
    } else if (key == "split") {
        return number(s.SplitAt);
    } else if (key == "gap") {
        return number(s.GapMs);
    } else if (key == "length") {
        int v = 0;
        if (!number(v))
            return false;
        s.Length = v;
    } else if (key == "count") {
        int v = 0;
        if (!number(v))
            return false;
        s.Count = v;
    } else if (key == "report" || key == "json") {
        s.Report = Unescape(value);
    } else if (key == "version") {
        s.Version = value;
    } else if (key == "disk") {
        s.FreeDisk = value;
    } else if (key == "diskalarm") {
        return number(s.DiskAlarm);
    } else if (key == "backup") {
        s.FreeBackup = value;
    } else if (key == "backupalarm") {
        return number(s.BackupAlarm);
    } else if (key == "device") {
        std::istringstream in(value);
        TSimDevice d;
        std::string capacity;
        if (s.Kind == TSimKind::Plus) {
            if (!(in >> d.Serial >> capacity) || !ToInt(capacity, d.Capacity))
                return why = "SERİ KAPASİTE KODLAR bekleniyor", false;
            in >> d.Channels;
        } else {
            std::string state;
            if (!(in >> d.Serial >> state >> capacity) || !ToInt(state, d.State)
                || !ToInt(capacity, d.Capacity))
                return why = "SERİ DURUM KAPASİTE KANALLAR bekleniyor", false;
            in >> d.Channels;
        }
        s.Devices.push_back(d);
    } else if (key == "closed") {
        std::istringstream in(value);
        std::string port;
        while (in >> port) {
            int p = 0;
            if (port == "own")
                p = 0;
            else if (!ToInt(port, p))
                return why = "port listesi bekleniyor", false;
            s.Closed.push_back(p);
        }
    } else if (key == "list") {
        s.ListMode = value;
    } else if (key == "listdelay") {
        return number(s.ListDelayMs);
    } else if (key == "servername") {
        s.ServerName = value;
    } else if (key == "serverip") {
        s.ServerIp = value;
    } else if (key == "expect") {
        return number(s.Expect);
    } else {
        return why = "bilinmeyen anahtar", false;
    }
    return true;
}

} // namespace

std::string BuildReport(const TSimSystem &system)
{
    if (system.Report)
        return *system.Report;
    return system.Kind == TSimKind::Plus ? PlusReport(system) : OrdinaryReport(system);
}

std::string Unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c >= '0' && c <= '7') {
            out += char(c - '0');
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 'x' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1]))
            && isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

bool ParseConfig(const std::string &text, std::vector<TSimSystem> &systems, std::string &error)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    TSimSystem *current = nullptr;
    // Device lines are read once the whole section is known: their form depends on the type.
    struct TDeferred
    {
        size_t system;
        int line;
        std::string value;
    };
    std::vector<TDeferred> devices;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) {
                error = "satır " + std::to_string(number) + ": [ad] bekleniyor";
                return false;
            }
            systems.emplace_back();
            current = &systems.back();
            current->Name = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t eq = line.find('=');
        std::string why;
        if (!current) {
            why = "önce [ad] bölümü gerekir";
        } else if (eq == std::string::npos) {
            why = "anahtar = değer bekleniyor";
        } else {
            const std::string key = Trim(line.substr(0, eq));
            std::string value = line.substr(eq + 1);
            // A blank and '#' start a comment, except in verbatim texts.
            if (key != "report" && key != "json") {
                for (size_t hash = value.find('#'); hash != std::string::npos;
                     hash = value.find('#', hash + 1)) {
                    if (hash > 0 && (value[hash - 1] == ' ' || value[hash - 1] == '\t')) {
                        value.resize(hash);
                        break;
                    }
                }
            }
            if (key == "device") {
                devices.push_back({systems.size() - 1, number, Trim(value)});
                continue;
            }
            if (SetKey(*current, key, Trim(value), why))
                continue;
        }
        error = "satır " + std::to_string(number) + ": " + why;
        return false;
    }
    for (const TDeferred &d : devices) {
        std::string why;
        if (!SetKey(systems[d.system], "device", d.value, why)) {
            error = "satır " + std::to_string(d.line) + ": " + why;
            return false;
        }
    }
    return true;
}

std::vector<TSimSystem> DemoFleet(const std::string &prefix, int first)
{
    std::vector<TSimSystem> fleet;
    auto add = [&](const std::string &name, TSimKind kind) -> TSimSystem & {
        TSimSystem s;
        s.Name = name;
        s.Kind = kind;
        s.Host = prefix + std::to_string(first + int(fleet.size()));
        s.Port = kind == TSimKind::Plus ? 8080 : 17000;
        s.Devices = {{"A1B2C3", 0, 8, "0,0,0,0,0,0,0,0"}, {"D4E5F6", 2, 30, "4,4"}};
        s.Expect = 2;
        fleet.push_back(s);
        return fleet.back();
    };
    add("saglam", TSimKind::Ordinary);
    add("kanal-alarmi", TSimKind::Ordinary).Devices[0].Channels = "0,0,1,2,0,0,0,0";
    add("disk-alarmi", TSimKind::Ordinary).DiskAlarm = 1;
    add("aygit-eksik", TSimKind::Ordinary).Expect = 3;
    add("aygit-fazla", TSimKind::Ordinary).Expect = 1;
    TSimSystem &plus = add("plus-saglam", TSimKind::Plus);
    plus.Devices = {{"A1001", 0, 4, "0002"}, {"A1002", 0, 2, "00"}};
    TSimSystem &plusAlarm = add("plus-kanal-alarmi", TSimKind::Plus);
    plusAlarm.Devices = {{"A1001", 0, 4, "0120"}, {"A1002", 0, 2, "00"}};
    add("kapali", TSimKind::Ordinary).Mode = "refuse";
    return fleet;
}

bool ParseMix(const std::string &text, TFleetMix &mix)
{
    TFleetMix m{0, 0, 0, 0};
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        const size_t eq = part.find('=');
        int v = 0;
        if (eq == std::string::npos || !ToInt(part.substr(eq + 1), v) || v < 0)
            return false;
        const std::string key = part.substr(0, eq);
        if (key == "ok")
            m.Ok = v;
        else if (key == "plus")
            m.Plus = v;
        else if (key == "refuse")
            m.Refuse = v;
        else if (key == "silent")
            m.Silent = v;
        else
            return false;
    }
    if (m.Ok + m.Plus + m.Refuse + m.Silent <= 0)
        return false;
    mix = m;
    return true;
}

bool MakeFleet(int count, const std::string &base, const TFleetMix &mix, int delayMs, int port,
    std::vector<TSimSystem> &systems, std::string &error)
{
    in_addr a{};
    if (inet_pton(AF_INET, base.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127) {
        error = "--base 127.x.y.z olmalı";
        return false;
    }
    const uint32_t first = ntohl(a.s_addr);
    if (count < 1 || uint64_t(first) + uint64_t(count) - 1 > 0x7FFFFFFEu) {
        error = "filo 127.0.0.0/8 dışına taşıyor";
        return false;
    }
    const int total = mix.Ok + mix.Plus + mix.Refuse + mix.Silent;
    for (int i = 0; i < count; ++i) {
        TSimSystem s;
        in_addr host{htonl(first + uint32_t(i))};
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &host, text, sizeof text);
        s.Host = text;
        s.Port = port;
        s.Name = "sim" + std::to_string(i + 1);
        // Spread the kinds evenly over the fleet rather than in blocks.
        const int slot = int((int64_t(i) * 7919) % total);
        s.Devices = {{"S" + std::to_string(100000 + i), 0, 8, "0,0,0,0,0,0,0,0"}};
        s.Expect = 1;
        s.DelayMs = delayMs;
        if (slot < mix.Ok) {
        } else if (slot < mix.Ok + mix.Plus) {
            s.Kind = TSimKind::Plus;
            s.Devices = {{"P" + std::to_string(100000 + i), 0, 4, "0000"}};
            s.ListDelayMs = delayMs;
        } else if (slot < mix.Ok + mix.Plus + mix.Refuse) {
            s.Mode = "refuse";
        } else {
            s.Mode = "silent";
        }
        systems.push_back(s);
    }
    return true;
}
