#include "../support/PrivateMount.h"
#include "platform/Errors.h"
#include "records/SystemListFile.h"
#include "store/Profile.h"
#include "TestTexts.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TListLayout SmallLayout()
{
    TListLayout l;
    l.ShowGrid = true;
    l.Bands.push_back({0, true, 0, 420});
    l.Columns.push_back({0, 0, 0, true, 0, 18, 0, 0, 0});
    l.Columns.push_back({0, 0, 1, false, 3, 75, 1, 1, 0});
    return l;
}

const QByteArray kSmallSections
    = "[\\ServiceList]\n"
      "ShowGrid=1\nShowPreviewGrid=0\nBandRowCount=1\nDefaultRowHeight=20\n"
      "HeaderPanelRowCount=1\n\n"
      "[\\ServiceList\\Band\\Band0]\nID=0\nVisible=1\nIndex=0\nWidth=420\n\n"
      "[\\ServiceList\\Columns\\Select]\nBandIndex=0\nRowIndex=0\nColIndex=0\n"
      "Visible=1\nIndex=0\nWidth=18\nSorted=0\nSortedOrder=0\nStoredRowIndex=0\n\n"
      "[\\ServiceList\\Columns\\Name]\nBandIndex=0\nRowIndex=0\nColIndex=1\n"
      "Visible=0\nIndex=3\nWidth=75\nSorted=1\nSortedOrder=1\nStoredRowIndex=0\n\n";

TEST(ListLayout, ReplacesOnlyItsOwnSectionsKeepingEveryOtherByte)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.ini"));
    // "Gölbaşı" in Windows-1254 must come back byte for byte: other sections are not ours to re-encode.
    WriteAll(path,
        "; comment before\nstray=1\n[Settings]\nPeriod=5\n; inner comment\n\n  Spaced = value  \n"
        "Name=G\xf6lba\xfe\xfd\n"
        "[\\ServiceList]\nShowGrid=0\n[\\ServiceList\\Columns\\Name]\nWidth=999\n"
        "[\\ServiceListOld]\nX=1\n[\\servicelist]\nKeep=1\n[Emails]\n0=a@x.com\n");
    SaveListLayout(SmallLayout(), path);
    EXPECT_EQ(ReadAll(path).toStdString(),
        (QByteArray("; comment before\nstray=1\n[Settings]\nPeriod=5\n; inner comment\n\n  Spaced = value  \n"
                    "Name=G\xf6lba\xfe\xfd\n")
            + kSmallSections + "[\\servicelist]\nKeep=1\n[Emails]\n0=a@x.com\n")
            .toStdString());

    // A second save leaves the same file.
    const QByteArray once = ReadAll(path);
    SaveListLayout(SmallLayout(), path);
    EXPECT_EQ(ReadAll(path), once);
}

// Settings files as a Windows editor leaves them: after the close every byte outside the layout sections
// is where it was, the byte-order mark and the CR LF line ends included.
TEST(ListLayout, WindowsEditorFilesKeepEveryByteOutsideTheLayout)
{
    QByteArray sections = kSmallSections;
    sections.replace("\n", "\r\n");
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray general = "[General]\r\nPeriod=5\r\nShowMainOnStart=0\r\n\r\n";
    const QByteArray oldLayout
        = "[\\ServiceList]\r\nShowGrid=0\r\n\r\n[\\ServiceList\\Columns\\Name]\r\nWidth=99\r\n\r\n";
    // "Gülşen", "Çağrı!" and "özgür" in Windows-1254, then in UTF-8.
    const QByteArray ansiSmtp = "[Smtp]\r\nUsername=G\xFCl\xFE\x65n\r\nPassword=\xC7\x61\xF0r\xFD!\r\n\r\n";
    const QByteArray ansiEmails = "[Emails]\r\n\xF6zg\xFCr@example.com=\r\n";
    const QByteArray utf8Smtp = "[Smtp]\r\nUsername=" + QStringLiteral("Gülşen").toUtf8()
        + "\r\nPassword=" + QStringLiteral("Çağrı!").toUtf8() + "\r\n";
    const struct
    {
        const char *name;
        QByteArray before, after;
    } cases[] = {
        {"ANSI, layout between the settings", general + ansiSmtp + oldLayout + ansiEmails,
            general + ansiSmtp + sections + ansiEmails},
        {"UTF-8 with a mark, no layout yet", bom + general + utf8Smtp, bom + general + utf8Smtp + sections},
        {"UTF-8 with a mark, layout first", bom + oldLayout + general + utf8Smtp,
            bom + sections + general + utf8Smtp},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.ini"));
        WriteAll(path, c.before);
        SaveListLayout(SmallLayout(), path);
        EXPECT_EQ(ReadAll(path).toStdString(), c.after.toStdString());
        EXPECT_EQ(TProfile(path).ReadInteger(QStringLiteral("General"), QStringLiteral("Period"), -1), 5);
        SaveListLayout(SmallLayout(), path);
        EXPECT_EQ(ReadAll(path).toStdString(), c.after.toStdString());
    }
}

TEST(ListLayout, NewFileAndWindowsLineEnds)
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("yeni.ini"));
    SaveListLayout(SmallLayout(), fresh);
    EXPECT_EQ(ReadAll(fresh).toStdString(), kSmallSections.toStdString());
    // It may become the settings file, with the mail password in it.
    EXPECT_EQ(
        QFile::permissions(fresh), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    const QString windows = dir.filePath(QStringLiteral("windows.ini"));
    WriteAll(windows, "[Settings]\r\nPeriod=5\r\n\r\n[\\ServiceList]\r\nShowGrid=1\r\n");
    SaveListLayout(SmallLayout(), windows);
    QByteArray expected = "[Settings]\nPeriod=5\n\n" + kSmallSections;
    expected.replace("\n", "\r\n");
    EXPECT_EQ(ReadAll(windows).toStdString(), expected.toStdString());
}

TEST(ListLayout, AllColumnsInColumnOrderWithTheSortState)
{
    TSystemList list;
    list.SortBy(TSystemRecord::DeviceCnt, true);
    TListLayout layout;
    layout.Bands.push_back({});
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c) {
        TListColumnLayout col;
        col.Sorted = SortedLayoutValue(list, c);
        layout.Columns.push_back(col);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.ini"));
    SaveListLayout(layout, path);
    QStringList sections, sorted;
    QString section;
    for (const QByteArray &line : ReadAll(path).split('\n')) {
        if (line.startsWith('[')) {
            section = QString::fromUtf8(line);
            sections.append(section);
        } else if (line.startsWith("Sorted=") && line != "Sorted=0") {
            sorted.append(section + QString::fromUtf8(line));
        }
    }
    EXPECT_EQ(sections,
        Texts({"[\\ServiceList]", "[\\ServiceList\\Band\\Band0]", "[\\ServiceList\\Columns\\Select]",
            "[\\ServiceList\\Columns\\Name]", "[\\ServiceList\\Columns\\IP]",
            "[\\ServiceList\\Columns\\Email]", "[\\ServiceList\\Columns\\DeviceCnt]",
            "[\\ServiceList\\Columns\\State]", "[\\ServiceList\\Columns\\Details]",
            "[\\ServiceList\\Columns\\ColDateTime]", "[\\ServiceList\\Columns\\ColZYRplus]"}));
    EXPECT_EQ(sorted, Texts({"[\\ServiceList\\Columns\\DeviceCnt]Sorted=2"}));

    list.SortBy(TSystemRecord::Name, false);
    EXPECT_EQ(SortedLayoutValue(list, TSystemRecord::Name), 1);
    EXPECT_EQ(SortedLayoutValue(list, TSystemRecord::DeviceCnt), 0);
}

QString ErrorOf(const QString &path)
{
    try {
        SaveListLayout(SmallLayout(), path);
    } catch (const EZyrError &e) {
        return e.Message();
    }
    return QStringLiteral("no error");
}

TEST(ListLayout, UnwritableOrUnreadableTargetRaisesTheError)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("yok/ZYRdenetleyici.ini"));
    EXPECT_EQ(ErrorOf(missing), QStringLiteral("Cannot create file ") + missing);
    // What cannot be read whole is never replaced: a pipe (without blocking the close) or a folder.
    const QString fifo = dir.filePath(QStringLiteral("boru.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(ErrorOf(fifo), QStringLiteral("Cannot open file ") + fifo);
    EXPECT_EQ(ErrorOf(dir.path()), QStringLiteral("Cannot open file ") + dir.path());
    EXPECT_TRUE(QFileInfo(fifo).isFile() == false && QFileInfo::exists(fifo));
}

TEST(ListLayout, FullDiskLeavesTheSettingsFileAsItWas)
{
    TPrivateTmpfs fs("size=256k,mode=0755");
    SKIP_WITHOUT_PRIVATE_TMPFS(fs);
    const QString path = fs.FilePath("ZYRdenetleyici.ini");
    const QByteArray before = "\xEF\xBB\xBF[General]\r\nPeriod=5\r\n\r\n[\\ServiceList]\r\nShowGrid=0\r\n";
    WriteAll(path, before);
    fs.Fill();
    EXPECT_EQ(ErrorOf(path), QStringLiteral("Cannot create file ") + path);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QDir(fs.Path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // and the filler
}

} // namespace

namespace {

// A layout written at the end of one run is read back at the next start.
TEST(ListLayoutRead, WhatTheWriterWroteComesBack)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ZYRdenetleyici.ini"));
    TListLayout layout;
    layout.Bands.push_back({0, true, 0, 500});
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c)
        layout.Columns.push_back(
            {0, 0, c, c < 6, c, c < 6 ? 30 + c : 0, c == TSystemRecord::Email ? 2 : 0, 0, 0});
    SaveListLayout(layout, ini);
    const QByteArray bytes = ReadAll(ini);
    const TSavedListLayout saved = ReadListLayout(ini);
    EXPECT_EQ(ReadAll(ini), bytes) << "reading writes nothing";
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c)
        EXPECT_EQ(saved.Widths[size_t(c)], c < 6 ? 30 + c : 0) << c;
    EXPECT_EQ(saved.SortColumn, int(TSystemRecord::Email));
    EXPECT_TRUE(saved.SortAscending);

    const TSavedListLayout missing = ReadListLayout(dir.filePath(QStringLiteral("none.ini")));
    EXPECT_EQ(missing.SortColumn, -1);
    EXPECT_EQ(missing.Widths, (std::array<int, TSystemRecord::ColumnCount>{}));
}

// Damaged or hostile sections give nothing for what is damaged and never more than what is sound.
TEST(ListLayoutRead, DamagedValuesGiveNothingForThemselves)
{
    struct TCase
    {
        const char *Name;
        QByteArray Bytes;
        int NameWidth;
        int EmailWidth;
        int SortColumn;
        bool Ascending;
    };
    const TCase cases[] = {
        {"sound, keys in any letter case, blanks, CR LF",
            "\xEF\xBB\xBF[ \\ServiceList\\Columns\\Name ]\r\n WIDTH = 120 \r\nsorted=1\r\n", 120, 0, 1,
            false},
        {"a section the writer does not own (letter case)",
            "[\\servicelist\\columns\\Name]\nWidth=120\nSorted=1\n", 0, 0, -1, false},
        {"no numbers", "[\\ServiceList\\Columns\\Name]\nWidth=wide\nSorted=x\n", 0, 0, -1, false},
        {"out of range",
            "[\\ServiceList\\Columns\\Name]\nWidth=0\n[\\ServiceList\\Columns\\Email]\nWidth=99999999999\n"
            "Sorted=-1\n[\\ServiceList\\Columns\\IP]\nSorted=3\n",
            0, 0, -1, false},
        {"first section and key count",
            "[\\ServiceList\\Columns\\Name]\nWidth=90\nWidth=10\n[\\ServiceList\\Columns\\Name]\nWidth="
            "50\nSorted=2\n",
            90, 0, -1, false},
        {"first sorted column counts; Select and hidden columns do not sort",
            "[\\ServiceList\\Columns\\Select]\nSorted=2\n[\\ServiceList\\Columns\\Details]\nSorted=2\n"
            "[\\ServiceList\\Columns\\State]\nSorted=1\n[\\ServiceList\\Columns\\IP]\nSorted=2\n",
            0, 0, 2, true},
        {"keys outside a column section",
            "Width=70\n[\\ServiceList]\nWidth=70\nSorted=2\n[\\ServiceList\\Columns\\]\n"
            "Width=70\n[\\ServiceList\\Columns\\Nam]\nWidth=70\n",
            0, 0, -1, false},
        {"no section end, no line end, no value", "[\\ServiceList\\Columns\\Email\nWidth", 0, 0, -1, false},
        {"bytes that are no UTF-8",
            "[\\ServiceList\\Columns\\Email]\n\xFF\xFE=\x80\nWidth=\xDE"
            "12\nWidth=12",
            0, 0, -1, false},
    };
    for (const TCase &c : cases) {
        const TSavedListLayout saved = ReadListLayoutBytes(c.Bytes);
        EXPECT_EQ(saved.Widths[TSystemRecord::Name], c.NameWidth) << c.Name;
        EXPECT_EQ(saved.Widths[TSystemRecord::Email], c.EmailWidth) << c.Name;
        EXPECT_EQ(saved.SortColumn, c.SortColumn) << c.Name;
        if (c.SortColumn >= 0) {
            EXPECT_EQ(saved.SortAscending, c.Ascending) << c.Name;
        }
    }
}

} // namespace
