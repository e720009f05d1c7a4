#pragma once
// The console session without a window: a folder of the test's own as the current folder, holding the
// settings, the list file and the event log; fleets of simulated recording systems in the same process.
#include "LoggedFolder.h"
#include "platform/Logger.h"
#include "records/SystemListFile.h"
#include "session/ConsoleSession.h"
#include "SimFleet.h"
#include "WaitUntil.h"
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

class SessionTest : public ::testing::Test
{
protected:
    TLoggedFolder dir;
    std::unique_ptr<TSimulator> sim;
    std::unique_ptr<TConsoleSession> session;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        Make();
    }
    void TearDown() override
    {
        session.reset();
        sim.reset();
    }

    // A new session (the previous one ends first) on the list file ListFile, as the program names it: a
    // bare name in the current folder.
    void Make(const QString &ListFile = QStringLiteral("ZYRdenetleyici.dat"))
    {
        session.reset();
        session = std::make_unique<TConsoleSession>(dir.path(), ListFile);
        Edit([](TLiveSettings &s) {
            s.TimeOut = 3000;
            s.BeepAlarm = false;
        });
    }
    TSystemList &List() { return session->ListForView(); }
    // Changes the live settings as a dialog does: a copy edited and handed back.
    void Edit(const std::function<void(TLiveSettings &)> &Change)
    {
        TLiveSettings s = session->Settings();
        Change(s);
        session->SetSettings(s);
    }

    static TSimSystem Healthy(const std::string &Name, int DelayMs = 0)
    {
        TSimSystem s;
        s.Name = Name;
        s.Port = 0;
        s.DelayMs = DelayMs;
        s.Devices = {{"A1B2C3", 0, 4, "0,0,0,0"}};
        s.Expect = 1;
        return s;
    }
    TRecordId AddRecord(
        const QString &Name, const QString &IP, int DeviceCnt = 0, bool Select = true, bool Plus = false)
    {
        TSystemRecord r;
        r.Cells = {Select ? QStringLiteral("1") : QStringLiteral("0"), Name, IP, QString(),
            QString::number(DeviceCnt), QStringLiteral("0"), QString(), QString(),
            Plus ? QStringLiteral("-1") : QStringLiteral("0")};
        return List().IdAt(List().Add(r));
    }
    // Starts the simulated fleet and adds one marked record per system, expecting its devices.
    void StartFleet(std::vector<TSimSystem> Systems)
    {
        sim = StartSimulator(std::move(Systems));
        ASSERT_TRUE(sim);
        for (size_t i = 0; i < sim->Systems().size(); ++i) {
            const TSimSystem &s = sim->Systems()[i];
            AddRecord(QString::fromStdString(s.Name), QString::fromStdString(sim->Target(i)),
                std::max(0, s.Expect), true, s.Kind == TSimKind::Plus);
        }
    }

    // Counts the status mail rounds the engine sends, in place of sending them.
    void CountMails(std::atomic<int> &Mails)
    {
        session->Engine().SendStatusMailsJob
            = [&Mails](const TLiveSettings &, const TSystemList &, TMailObjects &) { ++Mails; };
    }
    void WaitIdle()
    {
        ASSERT_TRUE(WaitUntil([&] { return !session->Busy(); }));
    }

    QString StateOf(const QString &Name)
    {
        for (int i = 0; i < List().Count(); ++i)
            if (List().Cell(i, TSystemRecord::Name) == Name)
                return List().Cell(i, TSystemRecord::State);
        return QStringLiteral("?");
    }
    TRecordId IdOf(const QString &Name)
    {
        for (int i = 0; i < List().Count(); ++i)
            if (List().Cell(i, TSystemRecord::Name) == Name)
                return List().IdAt(i);
        return 0;
    }
    QStringList Names()
    {
        QStringList names;
        for (int i = 0; i < List().Count(); ++i)
            names << List().Cell(i, TSystemRecord::Name);
        return names;
    }

    // The list as the file holds it now.
    static std::unique_ptr<TSystemList> Saved(const QString &File = QStringLiteral("ZYRdenetleyici.dat"))
    {
        auto saved = std::make_unique<TSystemList>();
        LoadSystemList(*saved, File);
        return saved;
    }

    // The texts of the log's lines, without their time stamps.
    static QStringList LogLines()
    {
        QFile f(QStringLiteral("ZYRdenetleyici.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        // The short date, then the time (left out at midnight).
        static const QRegularExpression stamp(QStringLiteral("^\\S+ (\\d{1,2}\\D\\d\\d\\D\\d\\d\\S* )?"));
        for (QString line : QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            out << line.remove(stamp);
        return out;
    }
    static int LogCount(const QString &Text)
    {
        int n = 0;
        for (const QString &line : LogLines())
            n += line.contains(Text) ? 1 : 0;
        return n;
    }
};
