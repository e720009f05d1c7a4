#include "store/Settings.h"
#include "../support/PrivateMount.h"
#include "platform/Errors.h"
#include "platform/SettingRules.h"
#include "platform/Version.h"
#include "Sandbox.h"
#include "store/Profile.h"
#include <gtest/gtest.h>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

class Settings : public ::testing::Test
{
protected:
    TSandbox sandbox;
    QString folder = sandbox.Path("prog");
    QString ini = folder + QStringLiteral("/ZYRdenetleyici.ini");
    QString entry = sandbox.CommonAutostart() + QStringLiteral("ZYRdenetleyici 2.1.desktop");

    void SetUp() override { QDir().mkpath(folder); }
    QString Value(const char *section, const char *key) const
    {
        return TProfile(ini).ReadString(
            QString::fromUtf8(section), QString::fromUtf8(key), QStringLiteral("<none>"));
    }
};

} // namespace

TEST_F(Settings, FileLivesBesideTheProgram)
{
    EXPECT_EQ(TLiveSettings().FileName(), ProgramFolder() + QStringLiteral("ZYRdenetleyici.ini"));
    EXPECT_EQ(TLiveSettings(folder).FileName(), ini);
    EXPECT_EQ(TLiveSettings(folder + QLatin1Char('/')).FileName(), ini);
}

TEST_F(Settings, NoFileGivesTheDefaults)
{
    TLiveSettings s(folder);
    s.Emails.Add(QStringLiteral("old@x.com"));
    // Fields a load with no file must put back to their defaults.
    s.Period = 9;
    s.RunAtStartup = s.ShowMainOnStart = s.CheckOnStart = s.BeepAlarm = s.DesktopNotify = s.AuthType = false;
    s.SSL = true;
    s.MailAfterCtrl = 2;
    s.Port = 99;
    s.Host = QStringLiteral("h");
    s.TimeOut = 7;
    s.HistoryDays = 31;
    s.Emails.SetChecked(0, true);
    // A copy is a snapshot: the load leaves it as it was.
    const TLiveSettings before = s;
    s.LoadSettings();
    EXPECT_EQ(before.Period, 9);
    EXPECT_EQ(before.Host, QStringLiteral("h"));
    EXPECT_EQ(before.To(), QStringLiteral("old@x.com"));
    EXPECT_FALSE(s == before);
    EXPECT_EQ(s.Period, 0);
    EXPECT_TRUE(s.RunAtStartup);
    EXPECT_TRUE(s.ShowMainOnStart);
    EXPECT_TRUE(s.CheckOnStart);
    EXPECT_EQ(s.MailAfterCtrl, 1);
    EXPECT_TRUE(s.BeepAlarm);
    EXPECT_TRUE(s.DesktopNotify);
    EXPECT_EQ(s.Port, 25);
    EXPECT_TRUE(s.AuthType);
    EXPECT_FALSE(s.SSL);
    EXPECT_EQ(s.Host, QString());
    EXPECT_EQ(s.Emails.Count(), 0);
    EXPECT_EQ(s.To(), QString());
    EXPECT_EQ(s.TimeOut, 5000);
    EXPECT_EQ(s.HistoryDays, 400);
    EXPECT_FALSE(QFile::exists(ini)) << "loading writes nothing";

    // Loaded from the same file, two values are equal whatever they held; one field apart, they differ.
    TLiveSettings again(folder);
    again.Host = QStringLiteral("x");
    again.LoadSettings();
    EXPECT_TRUE(again == s);
    again.TimeOut = 5001;
    EXPECT_FALSE(again == s);
}

TEST_F(Settings, OddStoredValuesLoadAndSaveBack)
{
    WriteBytes(ini,
        "[General]\r\n"
        "Period=-5\r\n"
        "RunAtStartup=2\r\n"
        "ShowMainOnStart=0\r\n"
        "CheckOnStart=abc\r\n"
        "MailAfterCtrl=7\r\n"
        "BeepAlarm=0\r\n"
        "DesktopNotify=0\r\n"
        "TimeOut=1234\r\n"
        "[Smtp]\r\n"
        "Host=  mail.example.com  \r\n"
        "Port=0x1D\r\n"
        "AuthType=2\r\n"
        "SSL=2\r\n"
        "To=B@X.COM,nobody@x.com\r\n"
        "[Emails]\r\n"
        "c@x.com=\r\n"
        "b@x.com=\r\n"
        "A@x.com=\r\n");
    TLiveSettings s(folder);
    s.LoadSettings();
    EXPECT_EQ(s.Period, 0);
    EXPECT_TRUE(s.RunAtStartup);
    EXPECT_FALSE(s.ShowMainOnStart);
    EXPECT_TRUE(s.CheckOnStart);
    EXPECT_EQ(s.MailAfterCtrl, 1);
    EXPECT_FALSE(s.BeepAlarm);
    EXPECT_FALSE(s.DesktopNotify);
    EXPECT_EQ(s.TimeOut, 1234);
    EXPECT_EQ(s.Host, QStringLiteral("mail.example.com"));
    EXPECT_EQ(s.Port, 29);
    EXPECT_FALSE(s.AuthType);
    EXPECT_FALSE(s.SSL);
    EXPECT_EQ(s.Emails.Items(),
        QStringList({QStringLiteral("A@x.com"), QStringLiteral("b@x.com"), QStringLiteral("c@x.com")}));
    EXPECT_EQ(s.To(), QStringLiteral("b@x.com"));

    s.RunAtStartup = false;
    s.SaveSettings();
    s.SaveSettings();
    EXPECT_EQ(Value("General", "Period"), QStringLiteral("0"));
    EXPECT_EQ(Value("General", "RunAtStartup"), QStringLiteral("0"));
    EXPECT_EQ(Value("General", "CheckOnStart"), QStringLiteral("1"));
    EXPECT_EQ(Value("General", "MailAfterCtrl"), QStringLiteral("1"));
    EXPECT_EQ(Value("General", "TimeOut"), QStringLiteral("1234"));
    EXPECT_EQ(Value("General", "DesktopNotify"), QStringLiteral("0"));
    EXPECT_EQ(Value("Smtp", "Port"), QStringLiteral("29"));
    EXPECT_EQ(Value("Smtp", "AuthType"), QStringLiteral("0"));
    EXPECT_EQ(Value("Smtp", "SSL"), QStringLiteral("0"));
    EXPECT_EQ(Value("Smtp", "To"), QStringLiteral("b@x.com"));
    EXPECT_EQ(TProfile(ini).ReadKeys(QStringLiteral("Emails")), s.Emails.Items());
    EXPECT_EQ(ReadBytes(ini).count("TimeOut"), 1);

    // RunAtStartup 2 means on, SSL 2 means off: the boolean and the exact-1 rule differ.
    WriteBytes(ini, "[General]\nPeriod=45\nRunAtStartup=2\n[Smtp]\nPort=abc\nSSL=1\nAuthType=1\n");
    s.LoadSettings();
    EXPECT_EQ(s.Period, 45);
    EXPECT_EQ(s.Port, 25);
    EXPECT_TRUE(s.SSL);
    EXPECT_TRUE(s.AuthType);
    EXPECT_EQ(s.TimeOut, 5000);
    EXPECT_TRUE(s.DesktopNotify) << "a file without the key notifies";
    s.SaveSettings();
    EXPECT_EQ(Value("General", "RunAtStartup"), QStringLiteral("1"));
    EXPECT_EQ(Value("General", "Period"), QStringLiteral("45"));
    EXPECT_EQ(Value("Smtp", "Port"), QStringLiteral("25"));
    EXPECT_FALSE(ReadBytes(ini).contains("TimeOut")) << "a file without TimeOut never gains one";
    EXPECT_FALSE(TProfile(ini).SectionExists(QStringLiteral("Emails")));
}

// A stored integer outside its key's range loads as the key's default; inside it loads as it is.
TEST_F(Settings, IntegersOutsideTheirRangeGiveTheDefault)
{
    struct
    {
        const char *Line;
        int Period, MailAfterCtrl, TimeOut, HistoryDays = 400;
    } cases[] = {
        {"TimeOut=-1", 0, 1, 5000},
        {"TimeOut=0", 0, 1, 0},
        {"TimeOut=0x10", 0, 1, 16},
        {"MailAfterCtrl=-1", 0, 1, 5000},
        {"MailAfterCtrl=0", 0, 0, 5000},
        {"MailAfterCtrl=2", 0, 2, 5000},
        {"MailAfterCtrl=3", 0, 1, 5000},
        {"Period=0", 0, 1, 5000},
        {"Period=1", 1, 1, 5000},
        {"Period=1441", 1441, 1, 5000}, // above the dialog's range: kept, the dialog's Save refuses it
        {"HistoryDays=29", 0, 1, 5000, 400},
        {"HistoryDays=30", 0, 1, 5000, 30},
        {"HistoryDays=3650", 0, 1, 5000, 3650},
        {"HistoryDays=3651", 0, 1, 5000, 400},
        {"HistoryDays=-400", 0, 1, 5000, 400},
        {"HistoryDays=0x64", 0, 1, 5000, 100},
    };
    for (const auto &c : cases) {
        WriteBytes(ini, QByteArray("[General]\n") + c.Line + "\n");
        TLiveSettings s(folder);
        s.LoadSettings();
        EXPECT_EQ(s.Period, c.Period) << c.Line;
        EXPECT_EQ(s.MailAfterCtrl, c.MailAfterCtrl) << c.Line;
        EXPECT_EQ(s.TimeOut, c.TimeOut) << c.Line;
        EXPECT_EQ(s.HistoryDays, c.HistoryDays) << c.Line;
    }
}

TEST(SettingRules, PeriodAndTimeOut)
{
    EXPECT_FALSE(PeriodAccepted(0));
    EXPECT_TRUE(PeriodAccepted(1));
    EXPECT_TRUE(PeriodAccepted(1440));
    EXPECT_FALSE(PeriodAccepted(1441));
    EXPECT_EQ(PeriodInterval(-5), 0);
    EXPECT_EQ(PeriodInterval(0), 0);
    EXPECT_EQ(PeriodInterval(1), 60000);
    EXPECT_EQ(PeriodInterval(1440), 86400000);
    EXPECT_EQ(PeriodInterval(35791), 2147460000);
    EXPECT_EQ(PeriodInterval(35792), 2147483647) << "beyond the timer's range it waits as long as it can";
    EXPECT_EQ(PeriodInterval(2147483647), 2147483647);
    EXPECT_EQ(EffectiveTimeOut(-1), 5000);
    EXPECT_EQ(EffectiveTimeOut(-2147483647 - 1), 5000);
    EXPECT_EQ(EffectiveTimeOut(0), 0);
    EXPECT_EQ(EffectiveTimeOut(1234), 1234);
}

TEST_F(Settings, SaveWritesTheFieldsAndKeepsLayoutSections)
{
    const QByteArray layout = "[\\ServiceList]\r\nSortColumn=2\r\n[\\ServiceList\\Column0]\r\nWidth=40\r\n";
    WriteBytes(ini, layout + "[Emails]\r\nold@x.com=\r\n");
    TLiveSettings s(folder);
    s.Period = 15;
    s.MailAfterCtrl = 2;
    s.Host = QStringLiteral(" smtp.x.com ");
    s.Password = QStringLiteral(" Çağrı 1 ");
    s.From = QStringLiteral("izleme@x.com");
    s.AuthType = false;
    s.SSL = true;
    s.RunAtStartup = false;
    s.HistoryDays = 90;
    s.Emails.Add(QStringLiteral("b@x.com"));
    s.Emails.Add(QStringLiteral("a@x.com"));
    s.Emails.SetChecked(0, true);
    s.Emails.SetChecked(1, true);
    s.SaveSettings();

    const QByteArray bytes = ReadBytes(ini);
    EXPECT_TRUE(bytes.startsWith(layout));
    EXPECT_TRUE(bytes.contains("\r\n[Emails]\r\na@x.com=\r\nb@x.com=\r\n")) << bytes.constData();
    EXPECT_FALSE(bytes.contains("old@x.com"));
    EXPECT_EQ(Value("General", "Period"), QStringLiteral("15"));
    EXPECT_EQ(Value("General", "MailAfterCtrl"), QStringLiteral("2"));
    EXPECT_EQ(Value("General", "HistoryDays"), QStringLiteral("90"));
    EXPECT_EQ(Value("Smtp", "Host"), QStringLiteral("smtp.x.com"));
    EXPECT_TRUE(bytes.contains(QStringLiteral("Password=Çağrı 1\r\n").toUtf8()));
    EXPECT_EQ(Value("Smtp", "To"), QStringLiteral("a@x.com,b@x.com"));

    TLiveSettings back(folder);
    back.LoadSettings();
    EXPECT_EQ(back.Period, 15);
    EXPECT_EQ(back.HistoryDays, 90);
    EXPECT_EQ(back.Password, QStringLiteral("Çağrı 1"));
    EXPECT_EQ(back.To(), QStringLiteral("a@x.com,b@x.com"));
    EXPECT_TRUE(back.SSL);
    EXPECT_FALSE(back.AuthType);

    s.Emails.Clear();
    s.SaveSettings();
    EXPECT_FALSE(TProfile(ini).SectionExists(QStringLiteral("Emails")));
    EXPECT_TRUE(ReadBytes(ini).startsWith(layout));
}

TEST_F(Settings, WindowsFileWithTurkishTextReadsBack)
{
    // Windows-1254: Ş=DE ı=FD ğ=F0 ü=FC ç=E7 Ç=C7 İ=DD
    WriteBytes(ini,
        "[Smtp]\r\n"
        "Host=posta.\xFE\x69rket.com.tr\r\n"
        "Username=G\xFCl\xFE\x65n\r\n"
        "Password=\xC7\x61\xF0r\xFD\xDD\x7A\r\n"
        "From=izleme@\xFE\x69rket.com.tr\r\n");
    TLiveSettings s(folder);
    s.LoadSettings();
    EXPECT_EQ(s.Host, QStringLiteral("posta.şirket.com.tr"));
    EXPECT_EQ(s.Username, QStringLiteral("Gülşen"));
    EXPECT_EQ(s.Password, QStringLiteral("Çağrıİz"));
    EXPECT_EQ(s.From, QStringLiteral("izleme@şirket.com.tr"));
}

TEST_F(Settings, EditsStayLiveUntilTheNextLoad)
{
    WriteBytes(ini, "[Smtp]\nTo=a@x.com,b@x.com\n[Emails]\na@x.com=\nb@x.com=\n");
    TLiveSettings s(folder);
    s.LoadSettings();
    s.Emails.Delete(s.Emails.IndexOf(QStringLiteral("a@x.com")));
    s.MailAfterCtrl = 0;
    EXPECT_EQ(s.To(), QStringLiteral("b@x.com"));
    s.LoadSettings();
    EXPECT_EQ(s.To(), QStringLiteral("a@x.com,b@x.com"));
    EXPECT_EQ(s.MailAfterCtrl, 1);
}

TEST_F(Settings, RefusedWriteStopsTheSaveBeforeTheStartupEntry)
{
    QDir().mkpath(ini); // a folder where the file should be
    TLiveSettings s(folder);
    try {
        s.SaveSettings();
        FAIL() << "no error";
    } catch (const EZyrError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + ini);
    }
    EXPECT_FALSE(QFile::exists(entry));
}

TEST_F(Settings, SaveMakesTheStartupEntryAgree)
{
    TLiveSettings s(folder);
    s.SaveSettings();
    ASSERT_TRUE(QFile::exists(entry));
    const QByteArray first = ReadBytes(entry);
    EXPECT_TRUE(first.contains("\nExec=\"" + QFile::encodeName(ProgramFilePath()) + "\"\n"))
        << first.constData();
    // The second save leaves the entry alone (same bytes, no second entry in the user's folder).
    s.SaveSettings();
    EXPECT_EQ(ReadBytes(entry), first);
    EXPECT_FALSE(QFile::exists(sandbox.OwnAutostart() + QStringLiteral("ZYRdenetleyici 2.1.desktop")));

    s.RunAtStartup = false;
    s.SaveSettings();
    EXPECT_FALSE(QFile::exists(entry));

    // A foreign entry of that name is never read nor replaced.
    WriteBytes(entry, "[Desktop Entry]\nExec=/elsewhere\n");
    s.RunAtStartup = true;
    s.SaveSettings();
    EXPECT_EQ(ReadBytes(entry), QByteArray("[Desktop Entry]\nExec=/elsewhere\n"));
}

TEST_F(Settings, NewFileIsPrivateAnExistingOneKeepsItsMode)
{
    // The file holds the mail password.
    const mode_t mask = ::umask(022);
    TLiveSettings s(folder);
    s.Password = QStringLiteral("gizli");
    s.SaveSettings();
    EXPECT_EQ(QFile::permissions(ini) & 0x0777, QFile::ReadUser | QFile::WriteUser);
    ASSERT_TRUE(QFile::setPermissions(
        ini, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    s.SaveSettings();
    EXPECT_EQ(QFile::permissions(ini) & 0x0777,
        QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
    ::umask(mask);
}

// As a Windows editor leaves it: a byte-order mark before [General], CR LF, a comment and a section of
// someone else's in Windows-1254. The keys load, and a save changes only its own lines.
TEST_F(Settings, ByteOrderMarkAndCrLfSurviveLoadAndSave)
{
    WriteBytes(ini,
        "\xEF\xBB\xBF[General]\r\n"
        "Period=7\r\n"
        "ShowMainOnStart=0\r\n"
        "; not\xFE\x65n\r\n"
        "\r\n"
        "[Notlar]\r\n"
        "Metin=\xDE\x75\x62\x65\r\n"
        "[Smtp]\r\n"
        "Host=posta\r\n");
    TLiveSettings s(folder);
    s.LoadSettings();
    EXPECT_EQ(s.Period, 7);
    EXPECT_FALSE(s.ShowMainOnStart);
    EXPECT_EQ(s.Host, QStringLiteral("posta"));
    s.RunAtStartup = false;
    s.SaveSettings();
    EXPECT_EQ(ReadBytes(ini),
        QByteArray("\xEF\xBB\xBF[General]\r\n"
                   "Period=7\r\n"
                   "ShowMainOnStart=0\r\n"
                   "; not\xFE\x65n\r\n"
                   "RunAtStartup=0\r\n"
                   "CheckOnStart=1\r\n"
                   "MailAfterCtrl=1\r\n"
                   "BeepAlarm=1\r\n"
                   "DesktopNotify=1\r\n"
                   "HistoryDays=400\r\n"
                   "\r\n"
                   "[Notlar]\r\n"
                   "Metin=\xDE\x75\x62\x65\r\n"
                   "[Smtp]\r\n"
                   "Host=posta\r\n"
                   "Username=\r\n"
                   "Password=\r\n"
                   "Port=25\r\n"
                   "AuthType=1\r\n"
                   "SSL=0\r\n"
                   "From=\r\n"
                   "To=\r\n"));
}

TEST_F(Settings, FullDiskOrUnreadableFileStopsTheSaveAndLeavesTheFile)
{
    // A pipe where the file should be: loading gives the defaults at once, saving never replaces it.
    const QString fifoFolder = sandbox.Path("pipe");
    QDir().mkpath(fifoFolder);
    const QString fifo = fifoFolder + QStringLiteral("/ZYRdenetleyici.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    TLiveSettings piped(fifoFolder);
    piped.LoadSettings();
    EXPECT_EQ(piped.TimeOut, 5000);
    EXPECT_THROW(piped.SaveSettings(), EZyrError);
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());

    TPrivateTmpfs fs("size=256k,mode=0755");
    SKIP_WITHOUT_PRIVATE_TMPFS(fs);
    const QString full = fs.FilePath("ZYRdenetleyici.ini");
    const QByteArray before = "[General]\r\nPeriod=5\r\n[\\ServiceList]\r\nShowGrid=0\r\n";
    WriteBytes(full, before);
    fs.Fill();
    TLiveSettings s(fs.Path());
    s.LoadSettings();
    s.Host = QStringLiteral("yeni");
    try {
        s.SaveSettings();
        FAIL() << "no error";
    } catch (const EZyrError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + full);
    }
    EXPECT_EQ(ReadBytes(full), before);
    EXPECT_FALSE(QFile::exists(entry));
}

TEST_F(Settings, AlarmConfirmationKeysReadInRangeAndAreWrittenOnceSet)
{
    struct
    {
        const char *Lines;
        int AlarmAfter, RetryInterval;
    } const cases[] = {
        {"", 1, 60},
        {"AlarmAfter=0\nRetryInterval=9", 1, 60},
        {"AlarmAfter=1\nRetryInterval=10", 1, 10},
        {"AlarmAfter=10\nRetryInterval=600", 10, 600},
        {"AlarmAfter=11\nRetryInterval=601", 1, 60},
        {"AlarmAfter=0x3\nRetryInterval=abc", 3, 60},
    };
    for (const auto &c : cases) {
        WriteBytes(ini, QByteArray("[General]\n") + c.Lines + "\n");
        TLiveSettings s(folder);
        s.LoadSettings();
        EXPECT_EQ(s.AlarmAfter, c.AlarmAfter) << c.Lines;
        EXPECT_EQ(s.RetryInterval, c.RetryInterval) << c.Lines;
    }

    // Never set: the file gains neither key.
    QFile::remove(ini);
    TLiveSettings s(folder);
    s.SaveSettings();
    EXPECT_FALSE(ReadBytes(ini).contains("AlarmAfter"));
    EXPECT_FALSE(ReadBytes(ini).contains("RetryInterval"));
    // Set: both follow HistoryDays; set back to a default, a key the file holds is written again.
    s.AlarmAfter = 3;
    s.RetryInterval = 15;
    s.SaveSettings();
    EXPECT_TRUE(ReadBytes(ini).contains("HistoryDays=400\nAlarmAfter=3\nRetryInterval=15\n"))
        << ReadBytes(ini).constData();
    s.AlarmAfter = 1;
    s.SaveSettings();
    EXPECT_EQ(Value("General", "AlarmAfter"), QStringLiteral("1"));
    TLiveSettings back(folder);
    back.LoadSettings();
    EXPECT_EQ(back.AlarmAfter, 1);
    EXPECT_EQ(back.RetryInterval, 15);
}
