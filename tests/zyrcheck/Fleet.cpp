#include "Fleet.h"

namespace {

TSimSystem Ordinary(const std::string &Name, int Expect)
{
    TSimSystem s;
    s.Name = Name;
    s.Host = "auto";
    s.Port = 0;
    s.Devices = {{"A1B2C3", 0, 8, "0,0,0,0,0,0,0,0"}, {"D4E5F6", 2, 30, "4,4"}};
    s.Expect = Expect;
    return s;
}

TSimSystem Plus(const std::string &Name, int Expect)
{
    TSimSystem s;
    s.Name = Name;
    s.Kind = TSimKind::Plus;
    s.Host = "auto";
    s.Port = 0;
    s.Devices = {{"P1001", 0, 4, "0000"}, {"P1002", 0, 2, "00"}};
    s.Expect = Expect;
    return s;
}

} // namespace

std::vector<TFleetCase> EveryBehaviour()
{
    std::vector<TFleetCase> cases;
    auto add = [&](TSimSystem s, int state) { cases.push_back({std::move(s), state}); };

    TSimSystem s = Ordinary("saglam", 2);
    s.Port = -1; // 17000
    add(s, 3);
    add(Ordinary("sayisiz", 0), 3);
    s = Ordinary("kanal-alarmi", 2);
    s.Devices[0].Channels = "0,0,1,2,0,0,0,0";
    add(s, 6);
    s = Ordinary("disk-alarmi", 2);
    s.DiskAlarm = 1;
    add(s, 6);
    s = Ordinary("yedek-disk-alarmi", 2);
    s.BackupAlarm = 1;
    add(s, 6);
    s = Ordinary("disk-alarmi-2", 2); // only 1 is an alarm
    s.DiskAlarm = 2;
    add(s, 3);
    s = Ordinary("aygit-alarmi", 2);
    s.Devices[0].State = 1;
    add(s, 6);
    s = Ordinary("durum-kodu-alarmi", 2);
    s.Devices[1].Channels = "4,5";
    add(s, 6);
    s = Ordinary("kapasitesiz-durum-kodu", 2); // red in the details window, no alarm for the verdict
    s.Devices[1].Capacity = 0;
    add(s, 3);
    s = Ordinary("kanal-12", 2); // "12" holds a '1'
    s.Devices[0].Channels = "0,12,0,0,0,0,0,0";
    add(s, 6);
    add(Ordinary("aygit-eksik", 3), 4);
    add(Ordinary("aygit-fazla", 1), 5);
    s = Ordinary("eksik-ve-alarm", 3);
    s.DiskAlarm = 1;
    add(s, 4);
    s = Ordinary("fazla-ve-alarm", 1);
    s.Devices[0].Channels = "1,0,0,0,0,0,0,0";
    add(s, 5);
    s = Ordinary("sayi-listeden-fazla", 3); // the verdict stops at the missing device: the report stays at 3
    s.Count = 3;
    add(s, 3);
    s = Ordinary("sayi-fazla-once-alarm", 3); // an alarm is found before the missing device
    s.Count = 3;
    s.Devices[0].State = 1;
    add(s, 6);
    s = Ordinary("kapali", 2);
    s.Mode = "refuse";
    s.Port = -1; // nothing listens there
    add(s, 1);
    for (const char *mode : {"silent", "close", "badsig", "badcode", "short"}) {
        s = Ordinary(std::string("mod-") + mode, 2);
        s.Mode = mode;
        add(s, 2);
    }
    s = Ordinary("gec-yanit", 2); // after the 512 ms reply wait
    s.DelayMs = 700;
    add(s, 2);
    s = Ordinary("negatif-uzunluk", 2); // an empty report: no device
    s.Mode = "neglen";
    add(s, 4);
    s = Ordinary("bolunmus", 0); // the first receive holds the header alone: an empty report
    s.Mode = "split";
    s.SplitAt = 5;
    add(s, 3);
    // The text is cut to the reply buffer, whose unfilled rest reads as zero bytes: they end up in the last
    // device's channel list, where the second status code then reads as 0, not 4.
    s = Ordinary("uzun-uzunluk", 2);
    s.Length = 100000;
    add(s, 6);
    s = Ordinary(
        "uzun-uzunluk-olagan-aygit", 2); // an ordinary last device reads its channels up to its capacity
    s.Length = 100000;
    std::swap(s.Devices[0], s.Devices[1]);
    add(s, 3);

    s = Plus("plus-saglam", 2);
    s.Port = -1; // 80
    add(s, 3);
    s = Plus("plus-kanal-alarmi", 2);
    s.Devices[0].Channels = "0100";
    add(s, 6);
    s = Plus("plus-kaydedilmeyen", 2); // no line, not recorded: no alarm
    s.Devices[0].Channels = "0200";
    add(s, 3);
    add(Plus("plus-aygit-eksik", 3), 4);
    add(Plus("plus-aygit-fazla", 1), 5);
    s = Plus("plus-port-kapali", 2);
    s.Closed = {27105};
    add(s, 1);
    s = Plus("plus-kendi-portu-kapali", 2);
    s.Port = -1;
    s.Closed = {0};
    add(s, 1);
    for (const char *list : {"unavailable", "broken", "truncated", "oversize", "silent", "close"}) {
        s = Plus(std::string("plus-liste-") + list, 2);
        s.ListMode = list;
        add(s, 2);
    }
    s = Plus("plus-json-degil", 1); // not JSON: an empty report, no device
    s.Report = "bu bir JSON degil";
    add(s, 4);
    return cases;
}

bool TRunningFleet::Start(std::string &Error)
{
    Cases = EveryBehaviour();
    std::vector<TSimSystem> systems;
    for (const TFleetCase &c : Cases)
        systems.push_back(c.System);
    Simulator = std::make_unique<TSimulator>(std::move(systems));
    return Simulator->Start(Error);
}

std::string TRunningFleet::Target(size_t i) const
{
    const TSimSystem &s = Simulator->Systems()[i];
    if (s.Port == DefaultPort(s.Kind))
        return s.Host;
    return s.Host + ":" + std::to_string(s.Port);
}
