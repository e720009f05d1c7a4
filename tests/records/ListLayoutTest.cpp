#include "console/records/SystemListFile.h"
#include "platform/Errors.h"
#include "TestTexts.h"
#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

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

TEST(ListLayout, ReplacesOnlyItsOwnSections)
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
        (QByteArray("[Settings]\nPeriod=5\n  Spaced = value  \nName=G\xf6lba\xfe\xfd\n\n"
                    "[\\servicelist]\nKeep=1\n\n[Emails]\n0=a@x.com\n\n")
            + kSmallSections)
            .toStdString());

    // A second save leaves the same file.
    const QByteArray once = ReadAll(path);
    SaveListLayout(SmallLayout(), path);
    EXPECT_EQ(ReadAll(path), once);
}

TEST(ListLayout, NewFileAndWindowsLineEnds)
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("yeni.ini"));
    SaveListLayout(SmallLayout(), fresh);
    EXPECT_EQ(ReadAll(fresh).toStdString(), kSmallSections.toStdString());

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

TEST(ListLayout, UnwritableTargetRaisesTheError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("yok/ZYRdenetleyici.ini"));
    try {
        SaveListLayout(SmallLayout(), path);
        FAIL() << "no error";
    } catch (const EZyrError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot create file ") + path);
    }
}

} // namespace
