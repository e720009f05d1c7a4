#pragma once
// The check engine without a window: a list, the engine on it, a log and a current folder of the test's
// own, fleets of simulated recording systems in the same process.
#include "engine/CheckEngine.h"
#include "LoggedFolder.h"
#include "Loopback.h"
#include "platform/Logger.h"
#include "records/SystemListFile.h"
#include "SimFleet.h"
#include "store/Settings.h"
#include "WaitUntil.h"
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

// Texts in failure messages as the reader would see them.
inline void PrintTo(const QString &Text, std::ostream *Out)
{
    *Out << '"' << Text.toStdString() << '"';
}
inline void PrintTo(const QStringList &Texts, std::ostream *Out)
{
    *Out << '{';
    for (const QString &text : Texts)
        *Out << "\n  \"" << text.toStdString() << '"';
    *Out << "\n}";
}

class EngineTest : public ::testing::Test
{
protected:
    TLoggedFolder dir;
    TSystemList list;
    TLiveSettings settings;
    std::unique_ptr<TCheckEngine> engine;
    std::unique_ptr<TSimulator> sim;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        engine = std::make_unique<TCheckEngine>(list, settings);
        TLiveSettings &s = engine->Settings();
        s.TimeOut = 3000;
        s.BeepAlarm = false;
        s.MailAfterCtrl = 2;
        s.Period = 0;
    }
    void TearDown() override
    {
        engine.reset();
        sim.reset();
    }

    static TSimSystem Healthy(int DelayMs = 0)
    {
        TSimSystem s;
        s.Port = 0;
        s.DelayMs = DelayMs;
        s.Devices = {{"A1B2C3", 0, 4, "0,0,0,0"}};
        return s;
    }
    static TSimSystem Refusing()
    {
        TSimSystem s = Healthy();
        s.Mode = "refuse";
        return s;
    }
    void StartFleet(std::vector<TSimSystem> Systems)
    {
        sim = StartSimulator(std::move(Systems));
        ASSERT_TRUE(sim);
    }
    QString Target(size_t I) const { return QString::fromStdString(sim->Target(I)); }

    // Status mails to one ticked address through the SMTP server on this loopback port.
    TLiveSettings &MailTo(int Port)
    {
        TLiveSettings &s = engine->Settings();
        s.Emails.SetChecked(s.Emails.Add(QStringLiteral("ops@example.com")), true);
        s.Host = QStringLiteral("127.0.0.1");
        s.Port = Port;
        s.From = QStringLiteral("denetleyici@example.com");
        return s;
    }

    // A marked record of an ordinary system expecting one device (the simulator's healthy report).
    TRecordId Add(const QString &Name, const QString &IP, const QString &State = QStringLiteral("0"),
        const QString &Plus = QStringLiteral("0"))
    {
        TSystemRecord r;
        r.Cells = {
            QStringLiteral("1"), Name, IP, QString(), QStringLiteral("1"), State, QString(), QString(), Plus};
        return list.IdAt(list.Add(r));
    }
    QString Cell(TRecordId Record, int Column) const { return list.Cell(list.PositionOf(Record), Column); }
    QStringList Names() const
    {
        QStringList names;
        for (int i = 0; i < list.Count(); ++i)
            names << list.Cell(i, TSystemRecord::Name);
        return names;
    }

    // The texts of the log's lines, without their time stamps.
    QStringList LogLines() const
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
    int LogCount(const QString &Text) const
    {
        int n = 0;
        for (const QString &line : LogLines())
            n += line.contains(Text) ? 1 : 0;
        return n;
    }

    void WaitIdle(int Ms = 30000)
    {
        ASSERT_TRUE(WaitUntil([&] { return !engine->Busy(); }, Ms));
    }
};
