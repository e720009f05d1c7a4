#pragma once
#include "mail/MailSend.h"
#include <functional>
#include <QString>

class TLiveSettings;
class TSystemList;

// Called with true while a status report or test mail is being composed and sent, and with false
// afterwards, also after a failure, on the thread that sends. The console does not use it: its check
// engine sends mail on a thread of its own and tells the window from there.
extern std::function<void(bool Busy)> OnMailBusy;

// Composes the HTML status report of the records at the given positions (decimal numbers joined by
// ","), sends it to the recipient and logs the outcome. No error leaves the call; it returns the texts
// composed (none when there is no recipient).
TMailText BuildStatusReport(const TLiveSettings &Settings, const TSystemList &List, const QString &Recipient,
    const QString &Records, TMailObjects &Objects = MailObjects());

// The test mail's texts, dated now.
TMailText TestMailText();
// Sends the test mail (Text: TestMailText) to the first ticked address. False with the delivery's
// message on failure.
bool SendTestMail(const TLiveSettings &Settings, const TMailText &Text, QString &Failure,
    TMailObjects &Objects = MailObjects());

// The colour of a state's cell in the report; states without one are drawn as "Denetlenmemiş".
QString StateColour(int State);
