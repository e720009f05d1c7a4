#include "store/Profile.h"
#include "platform/Errors.h"
#include "Sandbox.h"
#include <gtest/gtest.h>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

class Profile : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("t.ini"));
};

} // namespace

TEST_F(Profile, FindsSectionsAndKeysIgnoringCaseAndTrimsValues)
{
    WriteBytes(path,
        "\xEF\xBB\xBF[ general ]\r\n"
        "  PERIOD =  15 \t\r\n"
        "no equals sign here\r\n"
        "Empty=\r\n"
        "[Smtp]\r\n"
        "Period=99\r\n"
        "[GENERAL]\r\n"
        "Period=77\r\n"
        "Late=1\r\n");
    const TProfile ini(path);
    EXPECT_EQ(ini.ReadString(QStringLiteral("General"), QStringLiteral("period")), QStringLiteral("15"));
    // The first of two equal sections is the one read.
    EXPECT_EQ(ini.ReadString(QStringLiteral("General"), QStringLiteral("Late"), QStringLiteral("d")),
        QStringLiteral("d"));
    EXPECT_EQ(
        ini.ReadString(QStringLiteral("General"), QStringLiteral("Empty"), QStringLiteral("d")), QString());
    EXPECT_EQ(ini.ReadString(QStringLiteral("Nope"), QStringLiteral("Period"), QStringLiteral(" d ")),
        QStringLiteral("d"));
    EXPECT_EQ(ini.ReadKeys(QStringLiteral("GENERAL")),
        QStringList({QStringLiteral("PERIOD"), QStringLiteral("Empty")}));
    EXPECT_TRUE(ini.ReadKeys(QStringLiteral("Nope")).isEmpty());
    EXPECT_TRUE(ini.SectionExists(QStringLiteral("smtp")));

    const TProfile missing(dir.filePath(QStringLiteral("none.ini")));
    EXPECT_EQ(missing.ReadInteger(QStringLiteral("General"), QStringLiteral("Period"), 42), 42);
    EXPECT_TRUE(missing.ReadKeys(QStringLiteral("General")).isEmpty());
}

TEST_F(Profile, IntegerAndBooleanReadingRule)
{
    const struct
    {
        const char *stored;
        int expected;
    } cases[] = {
        {"29", 29},
        {"-5", -5},
        {"+7", 7},
        {"0x1D", 29},
        {"0X1d", 29},
        {"$1F", 31},
        {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"2147483648", -100},
        {"0x", -100},
        {"abc", -100},
        {"12abc", -100},
        {"", -100},
        {"-$1F", -100},
        {"1 2", -100},
    };
    for (const auto &c : cases) {
        WriteBytes(path, QByteArray("[S]\nK=") + c.stored + "\n");
        EXPECT_EQ(TProfile(path).ReadInteger(QStringLiteral("S"), QStringLiteral("K"), -100), c.expected)
            << c.stored;
    }
    WriteBytes(path, "[S]\nTwo=2\nZero=0\nText=yes\n");
    const TProfile ini(path);
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Two"), false));
    EXPECT_FALSE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Zero"), true));
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Text"), true));
    EXPECT_FALSE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Text"), false));
}

TEST_F(Profile, ReadsAtMost2047CharactersAndKeyNamesThatFitTheBuffer)
{
    QByteArray bytes = "[S]\nLong=" + QByteArray(3000, 'a') + "\n[Many]\n";
    for (int i = 0; i < 100; ++i)
        bytes += QByteArray::number(i).rightJustified(200, 'k') + "=\n";
    WriteBytes(path, bytes);
    const TProfile ini(path);
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("Long")).size(), 2047);
    // 200 characters and a zero each, one zero closing the list: 81 names fit in 16384 bytes.
    EXPECT_EQ(ini.ReadKeys(QStringLiteral("Many")).size(), 81);
}

TEST_F(Profile, DecodesWindows1254ValuesAndUtf8Alike)
{
    WriteBytes(path,
        "[Smtp]\r\nUsername=G\xFCl\xFE\x65n \xC7\x61\xF0r\xFD\r\nFrom="
            + QStringLiteral("İzmir Şube").toUtf8() + "\r\n");
    const TProfile ini(path);
    EXPECT_EQ(
        ini.ReadString(QStringLiteral("Smtp"), QStringLiteral("Username")), QStringLiteral("Gülşen Çağrı"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Smtp"), QStringLiteral("From")), QStringLiteral("İzmir Şube"));
}

TEST_F(Profile, WritesKeepEveryOtherLineByteForByte)
{
    // A Windows file: CR LF, a comment, a Windows-1254 value, blank lines, a layout section.
    WriteBytes(path,
        "; yorum\r\n"
        "[General]\r\n"
        "Period=5\r\n"
        "TimeOut=3000\r\n"
        "\r\n"
        "[\\ServiceList]\r\n"
        "Name=\xDE\x75\x62\x65\r\n"
        "\r\n"
        "[Smtp]\r\n"
        "Host=old");
    TProfile ini(path);
    ini.WriteInteger(QStringLiteral("general"), QStringLiteral("PERIOD"), 0);
    ini.WriteString(QStringLiteral("General"), QStringLiteral("BeepAlarm"), QStringLiteral("1"));
    ini.WriteString(QStringLiteral("Smtp"), QStringLiteral("Port"), QStringLiteral("25"));
    ini.WriteString(QStringLiteral("Emails"), QStringLiteral("a@b.com"), QString());
    EXPECT_EQ(ReadBytes(path),
        QByteArray("; yorum\r\n"
                   "[General]\r\n"
                   "PERIOD=0\r\n"
                   "TimeOut=3000\r\n"
                   "BeepAlarm=1\r\n"
                   "\r\n"
                   "[\\ServiceList]\r\n"
                   "Name=\xDE\x75\x62\x65\r\n"
                   "\r\n"
                   "[Smtp]\r\n"
                   "Host=old\r\n"
                   "Port=25\r\n"
                   "[Emails]\r\n"
                   "a@b.com=\r\n"));
}

TEST_F(Profile, WriteCreatesTheFileAndReadsBackWhatItWrote)
{
    TProfile ini(path);
    ini.WriteString(QStringLiteral("Smtp"), QStringLiteral("Password"), QStringLiteral("Çağrı=1;x"));
    EXPECT_EQ(ReadBytes(path), QStringLiteral("[Smtp]\nPassword=Çağrı=1;x\n").toUtf8());
    EXPECT_EQ(
        ini.ReadString(QStringLiteral("smtp"), QStringLiteral("password")), QStringLiteral("Çağrı=1;x"));
}

TEST_F(Profile, WriteKeepsPermissionsAndSymbolicLinks)
{
    // The file holds the mail password: a file the operator closed must stay closed.
    WriteBytes(path, "[Smtp]\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    const QString link = dir.filePath(QStringLiteral("link.ini"));
    ASSERT_TRUE(QFile::link(path, link));
    TProfile(link).WriteString(QStringLiteral("Smtp"), QStringLiteral("Password"), QStringLiteral("p"));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), path);
    EXPECT_EQ(ReadBytes(path), QByteArray("[Smtp]\nPassword=p\n"));
    const QFile::Permissions others
        = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    EXPECT_EQ(QFile::permissions(path) & others, QFile::Permissions());
}

TEST_F(Profile, EraseSectionRemovesEveryCopyAndKeepsTheRest)
{
    WriteBytes(path, "[Emails]\na@b.com=\n[General]\nPeriod=1\n[emails]\nc@d.com=\n\n[Smtp]\nHost=h\n");
    TProfile ini(path);
    ini.EraseSection(QStringLiteral("EMAILS"));
    EXPECT_EQ(ReadBytes(path), QByteArray("[General]\nPeriod=1\n[Smtp]\nHost=h\n"));

    ini.ReplaceSection(QStringLiteral("Emails"),
        {{QStringLiteral("x@y.com"), QString()}, {QStringLiteral("z@y.com"), QString()}});
    EXPECT_EQ(
        ReadBytes(path), QByteArray("[General]\nPeriod=1\n[Smtp]\nHost=h\n[Emails]\nx@y.com=\nz@y.com=\n"));

    const QString none = dir.filePath(QStringLiteral("none.ini"));
    TProfile(none).EraseSection(QStringLiteral("Emails"));
    EXPECT_FALSE(QFile::exists(none));
}

TEST_F(Profile, ByteOrderMarkStaysInFrontWhateverSectionGoes)
{
    WriteBytes(path, "\xEF\xBB\xBF[Emails]\r\na@b.com=\r\n[General]\r\nPeriod=1\r\n");
    TProfile ini(path);
    ini.EraseSection(QStringLiteral("Emails"));
    EXPECT_EQ(ReadBytes(path), QByteArray("\xEF\xBB\xBF[General]\r\nPeriod=1\r\n"));
    ini.ReplaceSection(QStringLiteral("General"), {{QStringLiteral("Period"), QStringLiteral("2")}});
    EXPECT_EQ(ReadBytes(path), QByteArray("\xEF\xBB\xBF[General]\r\nPeriod=2\r\n"));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("General"), QStringLiteral("Period"), 0), 2);
}

TEST_F(Profile, NewFileIsPrivate)
{
    TProfile(path).WriteString(QStringLiteral("Smtp"), QStringLiteral("Password"), QStringLiteral("gizli"));
    EXPECT_EQ(QFile::permissions(path) & 0x0777, QFile::ReadUser | QFile::WriteUser);
}

TEST_F(Profile, RefusedWriteRaisesWithThePathAndLeavesTheFile)
{
    // A folder in place of the file is refused for root too.
    const QString folder = dir.filePath(QStringLiteral("ZYRdenetleyici.ini"));
    ASSERT_TRUE(QDir().mkpath(folder));
    try {
        TProfile(folder).WriteString(
            QStringLiteral("General"), QStringLiteral("Period"), QStringLiteral("1"));
        FAIL() << "no error";
    } catch (const EZyrError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + folder);
    }

    // Names and values that would add or split lines are refused before anything is written.
    const QByteArray before = "[S]\nK=v\n";
    WriteBytes(path, before);
    TProfile ini(path);
    const QString s = QStringLiteral("S"), k = QStringLiteral("K");
    EXPECT_THROW(ini.WriteString(s, k, QStringLiteral("a\n[General]\nPeriod=1")), EZyrError);
    EXPECT_THROW(ini.WriteString(s, QStringLiteral("a=b"), QString()), EZyrError);
    EXPECT_THROW(ini.WriteString(QStringLiteral("S]x"), k, QString()), EZyrError);
    EXPECT_THROW(ini.WriteString(s, QStringLiteral("[x"), QString()), EZyrError);
    EXPECT_THROW(ini.ReplaceSection(s, {{QStringLiteral("a\rb"), QString()}}), EZyrError);
    EXPECT_EQ(ReadBytes(path), before);

    // A file that is there but cannot be read whole is never replaced by one holding the new key alone.
    const QString fifo = dir.filePath(QStringLiteral("pipe.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(TProfile(fifo).ReadString(s, k, QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_THROW(TProfile(fifo).WriteString(s, k, QStringLiteral("v")), EZyrError);
    EXPECT_THROW(TProfile(fifo).EraseSection(s), EZyrError);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}
