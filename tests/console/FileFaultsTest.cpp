// A confirmed close of the real main window when its files cannot be written: a full file system, a
// read-only one, a list file replaced by a folder. The error is shown, the window stays, no byte is lost.
// (scripts/faults drills the same faults on the program binary, ending it with SIGTERM.)
#include "../support/FileBytes.h"
#include "../support/PrivateMount.h"
#include "console/Main.h"
#include "console/MessageBoxes.h"
#include "platform/Errors.h"
#include "platform/Logger.h"
#include "records/SystemListFile.h"
#include "session/ConsoleSession.h"
#include <gtest/gtest.h>
#include <memory>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class FileFaults : public ::testing::Test
{
protected:
    QTemporaryDir logDir;
    QString oldDir = QDir::currentPath();
    std::unique_ptr<TLogger> log;

    void SetUp() override
    {
        log = std::make_unique<TLogger>(logDir.filePath(QStringLiteral("ZYRdenetleyici.log")));
        Logger = log.get();
        TMessageBoxHook::Clear();
    }
    void TearDown() override
    {
        Logger = nullptr;
        log.reset();
        QDir::setCurrent(oldDir);
    }
    QString LogText() const
    {
        return QString::fromUtf8(ReadBytes(logDir.filePath(QStringLiteral("ZYRdenetleyici.log"))));
    }

    // A window over a session on the list file of the current folder, as the program makes them.
    struct TProgram
    {
        TConsoleSession Session{QDir::currentPath(), QStringLiteral("ZYRdenetleyici.dat")};
        TMainForm Form{Session};
    };

    // The program's files in Folder, as its own folder and current directory.
    static void WriteFiles(const QString &folder)
    {
        WriteBytes(folder + QStringLiteral("/ZYRdenetleyici.ini"),
            "\xEF\xBB\xBF[General]\r\nPeriod=0\r\n\r\n[\\ServiceList]\r\nShowGrid=0\r\n");
        TSystemList list;
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), QStringLiteral("Merkez"), QStringLiteral("127.0.0.1:1"), QString(),
            QStringLiteral("0"), QStringLiteral("4"), QStringLiteral("rapor"), QString(),
            QStringLiteral("0")};
        list.Add(r);
        SaveSystemList(list, folder + QStringLiteral("/ZYRdenetleyici.dat"));
    }

    // Confirms the close; the save must fail with the text, the window stay and nothing be written.
    static void CloseFailsAndStays(TMainForm &form, const QString &text)
    {
        TMessageBoxHook::Clear();
        TMessageBoxHook::SetNextAnswer(IDOK);
        EXPECT_FALSE(form.close());
        ASSERT_EQ(TMessageBoxHook::Shown.size(), 2);
        EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ONAY"));
        EXPECT_EQ(TMessageBoxHook::Shown[1].Title, QStringLiteral("ZYRdenetleyici"));
        EXPECT_EQ(TMessageBoxHook::Shown[1].Text, text);
        EXPECT_TRUE(form.isVisible());
    }
};

} // namespace

TEST_F(FileFaults, ConfirmedCloseOnAFullOrReadOnlyFileSystemKeepsWindowAndFiles)
{
    for (const bool full : {true, false}) {
        SCOPED_TRACE(full ? "full" : "read-only");
        TPrivateTmpfs fs("size=256k,mode=0755");
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        WriteFiles(fs.Path());
        const QByteArray ini = ReadBytes(fs.FilePath("ZYRdenetleyici.ini"));
        const QByteArray dat = ReadBytes(fs.FilePath("ZYRdenetleyici.dat"));
        QDir::setCurrent(fs.Path());
        auto program = std::make_unique<TProgram>();
        ASSERT_EQ(program->Session.List().Count(), 1);
        program->Form.show();
        if (full)
            fs.Fill();
        else
            ASSERT_TRUE(fs.MakeReadOnly());

        CloseFailsAndStays(program->Form, QStringLiteral("Cannot create file ZYRdenetleyici.dat."));
        EXPECT_EQ(ReadBytes(fs.FilePath("ZYRdenetleyici.dat")), dat);
        program.reset(); // the layout, written at the end, fails the same way and is logged
        EXPECT_EQ(ReadBytes(fs.FilePath("ZYRdenetleyici.ini")), ini);
        // The window's end steps come after the program's last line.
        const QString log = LogText();
        EXPECT_TRUE(log.contains(QStringLiteral("Cannot create file ZYRdenetleyici.ini")));
        EXPECT_LT(log.indexOf(QStringLiteral("Program kapandı")),
            log.indexOf(QStringLiteral("Cannot create file ZYRdenetleyici.ini")));
        QDir::setCurrent(oldDir);
    }
}

TEST_F(FileFaults, ListFileReplacedByAFolderIsShownAtStartAndAtClose)
{
    QTemporaryDir dir;
    WriteFiles(dir.path());
    QFile::remove(dir.filePath(QStringLiteral("ZYRdenetleyici.dat")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("ZYRdenetleyici.dat/icinde")));
    QDir::setCurrent(dir.path());

    auto program = std::make_unique<TProgram>();
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("Cannot open file ZYRdenetleyici.dat."));
    program->Form.show();
    CloseFailsAndStays(program->Form, QStringLiteral("Cannot create file ZYRdenetleyici.dat."));
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("ZYRdenetleyici.dat/icinde"))).exists());
}
