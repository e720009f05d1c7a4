#pragma once
#include "mail/MimeMess.h"
#include "mail/SMTPSend.h"
#include <QString>
#include <QStringList>

class TLiveSettings;

// What one delivery reads from the settings, taken at the moment of the call.
struct TMailSettings
{
    QString Host;
    int Port = 25;
    QString Username;
    QString Password;
    bool SSL = false;
    QString From;
    QString To; // ticked addresses joined by ","
    int TimeOut = 5000;
};
TMailSettings MailSettingsOf(const TLiveSettings &Settings);

// The SMTP client and the message, made once and reused for every mail. Triggering Cancel ends the
// session's waits at once (the program is ending); mails are refused until it is reset.
struct TMailObjects
{
    TMailObjects() { SMTP.Sock().SetCancel(&Cancel); }
    TMailObjects(const TMailObjects &) = delete;
    TMailObjects &operator=(const TMailObjects &) = delete;

    TSocketCancel Cancel;
    TSMTPSend SMTP;
    TMimeMess Mime;
};
// The texts of one mail, composed for it: the HTML body lines, and the summary lines that the log
// shows for a mail that is no test mail.
struct TMailText
{
    QString Subject;
    QStringList Body;
    QStringList Summary;
};

// Delivers one mail; raises EZyrError with the failure's text. An empty recipient means the first
// address of To.
void SendMail(
    TMailObjects &Objects, const TMailSettings &Settings, const TMailText &Text, const QString &Recipient);
