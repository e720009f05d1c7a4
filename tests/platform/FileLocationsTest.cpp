// Where the program keeps its files: beside itself and in the current folder when it is a build or an
// unpacked copy, in the user's XDG folders (made private) when it is the packaged program.
#include "platform/FileLocations.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

class FileLocations : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::vector<std::pair<const char *, QByteArray>> saved;
    mode_t mask = ::umask(022);

    void SetUp() override
    {
        for (const char *var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            saved.emplace_back(var, qgetenv(var));
        qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    }
    void TearDown() override
    {
        ::umask(mask);
        for (const auto &[var, value] : saved)
            value.isNull() ? qunsetenv(var) : qputenv(var, value);
    }
    static mode_t ModeOf(const QString &Path)
    {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(Path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST_F(FileLocations, InstalledProgramUsesTheXdgFoldersOtherCopiesTheirOwn)
{
    const QString home = dir.filePath(QStringLiteral("home"));
    struct TCase
    {
        const char *Name;
        QString Program;
        const char *ConfigHome; // nullptr: unset
        const char *DataHome;
        bool Installed;
        QString Settings;
        QString Data;
    };
    const QString installed = QStringLiteral("/usr/bin/ZYRdenetleyici");
    const TCase cases[] = {
        {"a build", QStringLiteral("/work/build/bin/ZYRdenetleyici"), "/x/config", "/x/data", false,
            QStringLiteral("/work/build/bin/"), QString()},
        {"a copy named like the package's elsewhere", QStringLiteral("/opt/usr/bin/ZYRdenetleyici"), nullptr,
            nullptr, false, QStringLiteral("/opt/usr/bin/"), QString()},
        {"installed", installed, "/x/config", "/x/data", true, QStringLiteral("/x/config/ZYRdenetleyici/"),
            QStringLiteral("/x/data/ZYRdenetleyici/")},
        {"installed, trailing slashes", installed, "/x/config/", "/x/data/", true,
            QStringLiteral("/x/config/ZYRdenetleyici/"), QStringLiteral("/x/data/ZYRdenetleyici/")},
        {"installed, no XDG folders set", installed, nullptr, nullptr, true,
            home + QStringLiteral("/.config/ZYRdenetleyici/"),
            home + QStringLiteral("/.local/share/ZYRdenetleyici/")},
        {"installed, relative XDG folders are invalid", installed, "config", "", true,
            home + QStringLiteral("/.config/ZYRdenetleyici/"),
            home + QStringLiteral("/.local/share/ZYRdenetleyici/")},
        {"installed and replaced by an upgrade while running", installed + QStringLiteral(" (deleted)"),
            "/x/c", "/x/d", true, QStringLiteral("/x/c/ZYRdenetleyici/"),
            QStringLiteral("/x/d/ZYRdenetleyici/")},
    };
    for (const TCase &c : cases) {
        c.ConfigHome ? qputenv("XDG_CONFIG_HOME", c.ConfigHome) : qunsetenv("XDG_CONFIG_HOME");
        c.DataHome ? qputenv("XDG_DATA_HOME", c.DataHome) : qunsetenv("XDG_DATA_HOME");
        const TFileLocations where = FileLocationsFor(c.Program, installed);
        EXPECT_EQ(where.Installed, c.Installed) << c.Name;
        EXPECT_EQ(where.SettingsFolder, c.Settings) << c.Name;
        EXPECT_EQ(where.DataFolder, c.Data) << c.Name;
        EXPECT_EQ(where.DataFile(QStringLiteral("ZYRdenetleyici.log")),
            c.Data + QStringLiteral("ZYRdenetleyici.log"))
            << c.Name;
    }
    EXPECT_EQ(InstalledProgramPath(), installed);
    EXPECT_FALSE(::FileLocations().Installed) << "the test program is no installed program";
}

TEST_F(FileLocations, FoldersAreMadePrivateAndExistingOnesLeftAsTheyAre)
{
    const QString base = dir.filePath(QStringLiteral("xdg"));
    QDir().mkpath(base + QStringLiteral("/config"));
    ASSERT_EQ(::chmod(QFile::encodeName(base + QStringLiteral("/config")).constData(), 0755), 0);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/local/share")));
    const TFileLocations where = FileLocationsFor(QStringLiteral("/p"), QStringLiteral("/p"));
    ::umask(0); // no umask may open them to others
    ASSERT_TRUE(MakeFileFolders(where));
    EXPECT_EQ(ModeOf(where.SettingsFolder), 0700u);
    EXPECT_EQ(ModeOf(where.DataFolder), 0700u);
    EXPECT_EQ(ModeOf(base + QStringLiteral("/local")), 0700u) << "every folder made on the way";
    EXPECT_EQ(ModeOf(base + QStringLiteral("/config")), 0755u) << "an existing folder keeps its mode";

    ::umask(0277); // nor take them from the user
    ASSERT_EQ(::rmdir(QFile::encodeName(where.DataFolder).constData()), 0);
    ASSERT_TRUE(MakeFileFolders(where));
    EXPECT_EQ(ModeOf(where.DataFolder), 0700u);
    ASSERT_TRUE(MakeFileFolders(where)) << "a second start finds them there";

    // A file where a folder should be: reported, nothing replaced.
    QFile blocker(base + QStringLiteral("/blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
    EXPECT_FALSE(MakeFileFolders(FileLocationsFor(QStringLiteral("/p"), QStringLiteral("/p"))));
    EXPECT_TRUE(QFileInfo(blocker.fileName()).isFile());

    // A copy that is not installed keeps its folders as they are and makes none.
    EXPECT_TRUE(MakeFileFolders(FileLocationsFor(QStringLiteral("/nowhere/bin/p"), QStringLiteral("/p"))));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/nowhere")));
}

} // namespace
