// The alarm that is heard: the shipped call is a real, short, loud sound the player can load; the user's
// Alarm.wav comes first; the beep is left for a desktop without audio output.
#include "console/AlarmSound.h"
#include "dialogs/DialogTestUtil.h"
#include <cstdlib>
#include <QAudioDevice>
#include <QDeadlineTimer>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QtEndian>

namespace {

// Lets the player's loading run until it settles (tests may spin the loop; the program never does).
QSoundEffect::Status Settled(QSoundEffect &Effect)
{
    const QDeadlineTimer deadline(10000);
    const auto loading = [&] {
        return Effect.status() == QSoundEffect::Loading
            || (Effect.status() == QSoundEffect::Null && !Effect.source().isEmpty());
    };
    while (loading() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return Effect.status();
}

TEST(AlarmSound, ShippedCallIsAShortLoudMonoWave)
{
    QFile file(TAlarmSound::DefaultSource().toString().mid(3)); // ":/sounds/alarm.wav"
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    ASSERT_GE(wav.size(), 44);
    EXPECT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    const auto u16 = [&](int At) { return qFromLittleEndian<quint16>(wav.constData() + At); };
    const auto u32 = [&](int At) { return qFromLittleEndian<quint32>(wav.constData() + At); };
    EXPECT_EQ(u16(20), 1); // PCM
    EXPECT_EQ(u16(22), 1); // mono
    EXPECT_EQ(u32(24), 22050); // samples a second
    EXPECT_EQ(u16(34), 16); // bits a sample
    ASSERT_EQ(wav.mid(36, 4), "data");
    const quint32 bytes = u32(40);
    ASSERT_EQ(qsizetype(44 + bytes), wav.size());
    const double seconds = bytes / 2 / 22050.0;
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 2.0); // an alarm, not a tune

    int peak = 0;
    int first = 0;
    int last = 0;
    for (quint32 i = 0; i < bytes / 2; ++i) {
        const int sample = qFromLittleEndian<qint16>(wav.constData() + 44 + 2 * i);
        peak = std::max(peak, std::abs(sample));
        if (i == 0)
            first = sample;
        last = sample;
    }
    EXPECT_GT(peak, 16000); // heard over a room, short of clipping
    EXPECT_LT(peak, 32767);
    EXPECT_EQ(first, 0); // starts and ends at rest: no click
    EXPECT_EQ(last, 0);
}

TEST(AlarmSound, PlayerLoadsTheShippedCallAndRefusesABrokenFile)
{
    TSandbox sandbox;
    QSoundEffect shipped;
    shipped.setSource(TAlarmSound::DefaultSource());
    EXPECT_EQ(Settled(shipped), QSoundEffect::Ready);

    QFile broken(sandbox.Path(QStringLiteral("Alarm.wav")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("RIFF this is no sound");
    broken.close();
    QSoundEffect other;
    other.setSource(QUrl::fromLocalFile(broken.fileName()));
    EXPECT_EQ(Settled(other), QSoundEffect::Error);
}

TEST(AlarmSound, UsersFileFirstThenTheShippedCallThenTheBeep)
{
    TSandbox sandbox;
    // The user's own sound: any playable WAV will do.
    const QString users = sandbox.Path(QStringLiteral("Alarm.wav"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(":/sounds/alarm.wav"), users));
    struct TCase
    {
        bool Users;
        bool Output;
        const char *Heard;
    };
    const TCase cases[]
        = {{true, true, "file"}, {true, false, "file"}, {false, true, "shipped"}, {false, false, "beep"}};
    for (const TCase &c : cases) {
        {
            TAlarmSound sound;
            int beeps = 0;
            sound.HasAudioOutput = [&] { return c.Output; };
            sound.Beep = [&] { ++beeps; };
            if (c.Users)
                sound.PlayFile(users);
            else
                sound.PlayDefault();
            QString heard = beeps == 1 ? QStringLiteral("beep") : QString();
            if (sound.Effect()->source() == QUrl::fromLocalFile(users))
                heard = QStringLiteral("file");
            else if (sound.Effect()->source() == TAlarmSound::DefaultSource())
                heard = QStringLiteral("shipped");
            EXPECT_EQ(heard, QLatin1String(c.Heard)) << c.Users << c.Output;
            EXPECT_LE(beeps, 1);
            Settled(*sound.Effect()); // the loading finishes before the player goes
        }
        // The player's sample is freed through the event loop, which the program runs and a test must.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(AlarmSound, ShippedCallPlaysOnTheDesktopsOutput)
{
    if (QMediaDevices::audioOutputs().isEmpty())
        GTEST_SKIP() << "no audio output on this machine";
    TAlarmSound sound;
    int beeps = 0;
    sound.Beep = [&] { ++beeps; };
    sound.PlayDefault();
    EXPECT_EQ(Settled(*sound.Effect()), QSoundEffect::Ready);
    const QDeadlineTimer deadline(5000);
    bool played = false;
    while (!deadline.hasExpired() && !played) {
        played = sound.Effect()->isPlaying();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(played);
    EXPECT_EQ(beeps, 0);
}

} // namespace
