#include "platform/Autostart.h"
#include "platform/Errors.h"
#include "platform/Version.h"
#include "XdgSandbox.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <utility>
#include <vector>

namespace {

QByteArray ReadBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// HOME and the XDG folders in a temporary tree: as root the real all-users folder is writable.
class Autostart : public ::testing::Test
{
protected:
    TXdgSandbox sandbox;
    QString common = sandbox.Path(QStringLiteral("xdg/autostart/"));
    QString own = sandbox.Path(QStringLiteral("config/autostart/"));
    const QString name = QStringLiteral("ZYRdenetleyici 2.1");

    void SetUp() override
    {
        sandbox.Apply();
        qputenv("XDG_CONFIG_DIRS",
            QFile::encodeName(QStringLiteral("relative/ignored::") + sandbox.Path(QStringLiteral("xdg"))
                + QStringLiteral(":/etc/xdg")));
    }
};

} // namespace

TEST_F(Autostart, FoldersFollowTheXdgVariables)
{
    EXPECT_EQ(GetStartupFolder(), common);
    EXPECT_EQ(GetUserStartupFolder(), own);
    qunsetenv("XDG_CONFIG_DIRS");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(GetStartupFolder(), QStringLiteral("/etc/xdg/autostart/"));
    EXPECT_EQ(GetUserStartupFolder(), sandbox.Path(QStringLiteral("home/.config/autostart/")));
}

TEST_F(Autostart, EntryGoesToAllUsersAndIsRemovedFromBoth)
{
    CreateStartupEntry(name);
    const QByteArray text = ReadBytes(common + name + QStringLiteral(".desktop"));
    const QString program = ProgramFilePath();
    const QString folder = program.left(program.lastIndexOf(QLatin1Char('/')));
    EXPECT_EQ(text,
        (QStringLiteral("[Desktop Entry]\nType=Application\nName=ZYRdenetleyici 2.1\nExec=\"") + program
            + QStringLiteral("\"\nPath=") + folder + QStringLiteral("\nTerminal=false\n"))
            .toUtf8());
    EXPECT_FALSE(QFile::exists(own + name + QStringLiteral(".desktop")));

    WriteBytes(own + name + QStringLiteral(".desktop"), "x");
    RemoveStartupShortcut(name);
    EXPECT_FALSE(QFile::exists(common + name + QStringLiteral(".desktop")));
    EXPECT_FALSE(QFile::exists(own + name + QStringLiteral(".desktop")));
    EXPECT_NO_THROW(RemoveStartupShortcut(name));
}

TEST_F(Autostart, UnwritableAllUsersFolderFallsBackToTheUsersOwn)
{
    // A file where the all-users folder should be stops root as well as an ordinary user.
    WriteBytes(sandbox.Path(QStringLiteral("xdg/autostart")), "not a folder");
    CreateStartupEntry(name);
    EXPECT_TRUE(ReadBytes(own + name + QStringLiteral(".desktop")).startsWith("[Desktop Entry]\n"));

    // An entry in either folder is enough: nothing is written twice, nothing replaced.
    QFile::remove(sandbox.Path(QStringLiteral("xdg/autostart")));
    WriteBytes(own + name + QStringLiteral(".desktop"), "foreign");
    CreateStartupEntry(name);
    EXPECT_FALSE(QFile::exists(common + name + QStringLiteral(".desktop")));
    EXPECT_EQ(ReadBytes(own + name + QStringLiteral(".desktop")), QByteArray("foreign"));
}

TEST_F(Autostart, NeitherFolderWritableRaises)
{
    WriteBytes(sandbox.Path(QStringLiteral("xdg/autostart")), "x");
    WriteBytes(sandbox.Path(QStringLiteral("config/autostart")), "x");
    EXPECT_THROW(CreateStartupEntry(name), EZyrError);
}

TEST(DesktopEntry, ExecQuoting)
{
    const struct
    {
        const char *program;
        const char *exec;
    } cases[] = {
        {"/opt/zyr/ZYRdenetleyici", R"("/opt/zyr/ZYRdenetleyici")"},
        {"/home/op/ZYR denetleyici/ZYRdenetleyici", R"("/home/op/ZYR denetleyici/ZYRdenetleyici")"},
        {"/x/a\"b", R"("/x/a\\"b")"},
        {"/x/$HOME`id`", R"("/x/\\$HOME\\`id\\`")"},
        {"/x/a\\b", R"("/x/a\\\\b")"},
        {"/x/100%", R"("/x/100%%")"},
        {"/x/a\nb", R"("/x/a\nb")"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DesktopExecValue(QString::fromUtf8(c.program)), QString::fromUtf8(c.exec)) << c.program;
    EXPECT_EQ(DesktopStringValue(QStringLiteral(" a\\b\t")), QStringLiteral("\\sa\\\\b\\t"));
}
