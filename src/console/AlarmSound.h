#pragma once
#include <functional>
#include <QObject>
#include <QUrl>

class QSoundEffect;

// The alarm of a periodic cycle, heard: the user's own "Alarm.wav" when the folder has one, otherwise the
// call shipped inside the program. The toolkit's beep, silent on most Linux desktops, is left for a
// desktop without any audio output.
class TAlarmSound : public QObject
{
public:
    explicit TAlarmSound(QObject *Parent = nullptr);

    // The user's file, played as it is: a file that cannot be played sounds nothing.
    void PlayFile(const QString &Path);
    // The shipped call, or the beep when there is nowhere to play it.
    void PlayDefault();

    static QUrl DefaultSource();

    // Replaceable so that tests can stand in for the desktop's audio outputs and the beep.
    std::function<bool()> HasAudioOutput;
    std::function<void()> Beep;

    // The player, created at the first alarm.
    QSoundEffect *Effect();

private:
    void Play(const QUrl &Source);

    QSoundEffect *effect = nullptr;
};
