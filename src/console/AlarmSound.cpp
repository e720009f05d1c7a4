#include "console/AlarmSound.h"
#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>

TAlarmSound::TAlarmSound(QObject *Parent)
    : QObject(Parent)
{
    HasAudioOutput = [] { return !QMediaDevices::defaultAudioOutput().isNull(); };
    Beep = [] { QApplication::beep(); };
}

QUrl TAlarmSound::DefaultSource()
{
    return QUrl(QStringLiteral("qrc:/sounds/alarm.wav"));
}

QSoundEffect *TAlarmSound::Effect()
{
    if (!effect)
        effect = new QSoundEffect(this);
    return effect;
}

void TAlarmSound::Play(const QUrl &Source)
{
    QSoundEffect *player = Effect();
    // A device added since the last alarm (a headset plugged in) is the one the desktop now plays on.
    player->setAudioDevice(QMediaDevices::defaultAudioOutput());
    player->setSource(Source);
    player->play();
}

void TAlarmSound::PlayFile(const QString &Path)
{
    Play(QUrl::fromLocalFile(Path));
}

void TAlarmSound::PlayDefault()
{
    if (HasAudioOutput())
        Play(DefaultSource());
    else
        Beep();
}
