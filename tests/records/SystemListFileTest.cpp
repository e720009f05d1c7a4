#include "records/SystemListFile.h"
#include "../support/PrivateMount.h"
#include "platform/Errors.h"
#include "TestTexts.h"
#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using R = TSystemRecord;

// Builds list-file bytes by hand, so the tests state the layout independently of the writer.
struct TBytes
{
    QByteArray data;
    TBytes &I32(qint32 v)
    {
        for (int i = 0; i < 4; ++i)
            data.append(char((quint32(v) >> (8 * i)) & 0xff));
        return *this;
    }
    TBytes &U8(int v)
    {
        data.append(char(v));
        return *this;
    }
    TBytes &Raw(const QByteArray &b)
    {
        data.append(b);
        return *this;
    }
    // Block header with H = 24 and the values this console writes.
    TBytes &Header(qint32 cells, qint32 children = 0, qint32 h = 24)
    {
        I32(h).I32(0).I32(-1).I32(-1).I32(0).I32(children).I32(cells);
        for (qint32 i = 24; i < h; ++i)
            U8(0xEE);
        return *this;
    }
    TBytes &Cell(const QByteArray &text) { return I32(qint32(text.size())).Raw(text); }
    TBytes &ShortCell(const QByteArray &text) { return U8(int(text.size())).Raw(text); }
    TBytes &Record(const QList<QByteArray> &cells)
    {
        Header(qint32(cells.size()));
        for (const QByteArray &c : cells)
            Cell(c);
        return *this;
    }
};

TSystemRecord MakeRecord(const QStringList &cells)
{
    TSystemRecord r;
    r.Cells = cells;
    return r;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QString ErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const EZyrError &e) {
        return e.Message();
    }
    return QStringLiteral("<no error>");
}

const QStringList kMerkez = Texts({"1", "Merkez", "srv1", "", "2", "0", "", "", "0"});

TEST(SystemListFile, ExampleRecordIsByteExact)
{
    TSystemList list;
    list.Add(MakeRecord(kMerkez));
    const QByteArray expected = QByteArray::fromHex("FFFFFFFF01000000"
                                                    "18000000"
                                                    "00000000FFFFFFFFFFFFFFFF0000000000000000"
                                                    "09000000"
                                                    "0100000031"
                                                    "060000004D65726B657A"
                                                    "0400000073727631"
                                                    "00000000"
                                                    "0100000032"
                                                    "0100000030"
                                                    "00000000"
                                                    "00000000"
                                                    "0100000030");
    ASSERT_EQ(expected.size(), 86);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    SaveSystemList(list, path);
    EXPECT_EQ(ReadAll(path).toHex(' '), expected.toHex(' '));

    TSystemList loaded;
    LoadSystemList(loaded, path);
    ASSERT_EQ(loaded.Count(), 1);
    EXPECT_EQ(loaded.Record(0).Cells, kMerkez);
}

TEST(SystemListFile, EmptyListIsEightBytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.dat"));
    TSystemList list;
    SaveSystemList(list, path);
    EXPECT_EQ(ReadAll(path), QByteArray::fromHex("FFFFFFFF00000000"));

    TSystemList loaded;
    loaded.Add(MakeRecord(kMerkez));
    LoadSystemList(loaded, path);
    EXPECT_EQ(loaded.Count(), 0);
}

TEST(SystemListFile, ReadsOlderOneByteLayout)
{
    TBytes b;
    b.I32(2);
    b.Header(9);
    for (const char *c : {"1", "Merkez", "srv1", "a@x.com", "2", "3", "", "", "0"})
        b.ShortCell(c);
    b.Header(3);
    b.ShortCell("0").ShortCell("Şube").ShortCell(QByteArray(255, 'x'));
    TSystemList list;
    LoadSystemListFromBytes(list, b.data);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Cell(0, R::Email), QStringLiteral("a@x.com"));
    EXPECT_EQ(list.Cell(0, R::State), QStringLiteral("3"));
    EXPECT_EQ(list.Cell(1, R::Name), QStringLiteral("Şube"));
    EXPECT_EQ(list.Cell(1, R::IP), QString(255, QLatin1Char('x')));
    EXPECT_EQ(list.Cell(1, R::ColZYRplus), QString());
}

TEST(SystemListFile, OddButValidBlocks)
{
    // H = 28: the four extra header bytes are skipped.
    TBytes longHeader;
    longHeader.I32(-1).I32(1).Header(2, 0, 28).Cell("1").Cell("Uzun");

    // Eight cells: ColZYRplus reads as empty text, and as the flag false; a save keeps eight cells.
    TBytes eight;
    eight.I32(-1).I32(1).Record({"1", "Eski", "srv", "", "0", "0", "", ""});

    // Child blocks (nested, with cells) are read past and the next row stays in step.
    TBytes children;
    children.I32(-1).I32(2).Header(2, 1).Cell("1").Cell("Ana");
    children.Header(1, 1).Cell("alt").Header(1, 0).Cell("alt2");
    children.Record({"0", "Sonraki"});

    // Cells beyond the ninth are read past.
    TBytes extra;
    extra.I32(-1).I32(1).Record({"1", "Fazla", "", "", "", "", "", "", "0", "x", "y"});

    // A negative count announces nothing.
    TBytes negative;
    negative.I32(-1).I32(-5);

    const struct
    {
        const char *name;
        QByteArray bytes;
        QStringList names;
    } cases[] = {
        {"H=28", longHeader.data, Texts({"Uzun"})},
        {"eight cells", eight.data, Texts({"Eski"})},
        {"children", children.data, Texts({"Ana", "Sonraki"})},
        {"extra cells", extra.data, Texts({"Fazla"})},
        {"negative count", negative.data, {}},
    };
    for (const auto &c : cases) {
        TSystemList list;
        LoadSystemListFromBytes(list, c.bytes);
        QStringList names;
        for (int i = 0; i < list.Count(); ++i)
            names.append(list.Cell(i, R::Name));
        EXPECT_EQ(names, c.names) << c.name;
    }

    TSystemList list;
    LoadSystemListFromBytes(list, eight.data);
    EXPECT_EQ(list.Cell(0, R::ColZYRplus), QString());
    EXPECT_FALSE(list.CellAsFlag(0, R::ColZYRplus));
    EXPECT_EQ(SystemListBytes(list), eight.data);
}

TEST(SystemListFile, LongCellRoundTrips)
{
    QString details;
    for (int i = 0; i < 300; ++i)
        details.append(QChar(u'a' + i % 26));
    TSystemList list;
    QStringList cells = kMerkez;
    cells[R::Details] = details;
    list.Add(MakeRecord(cells));
    const QByteArray bytes = SystemListBytes(list);
    EXPECT_EQ(bytes.size(), 86 + 300);
    TSystemList loaded;
    LoadSystemListFromBytes(loaded, bytes);
    ASSERT_EQ(loaded.Count(), 1);
    EXPECT_EQ(loaded.Cell(0, R::Details), details);
}

TEST(SystemListFile, DamagedFilesKeepTheCompleteRowsBefore)
{
    auto good = [] {
        TBytes b;
        b.Record({"1", "Birinci", "srv1"});
        return b;
    };
    TBytes countBeyond;
    countBeyond.I32(-1).I32(0x7fffffff).Raw(good().data);
    TBytes lengthBeyond;
    lengthBeyond.I32(-1).I32(2).Raw(good().data).Header(2).Cell("1").I32(0x7ffffff0).Raw("abc");
    TBytes negativeLength;
    negativeLength.I32(-1).I32(2).Raw(good().data).Header(2).Cell("1").I32(-4);
    TBytes shortHeader;
    shortHeader.I32(-1).I32(2).Raw(good().data).I32(20).I32(0).I32(0).I32(0).I32(0).I32(0);
    TBytes hugeHeader;
    hugeHeader.I32(-1).I32(2).Raw(good().data).I32(0x7fffffff).Raw(QByteArray(64, 0));
    TBytes truncated;
    truncated.I32(-1).I32(2).Raw(good().data).Record({"1", "İkinci", "srv2"});
    truncated.data.chop(2);
    TBytes legacyTruncated;
    legacyTruncated.I32(2).Header(1).ShortCell("1").Header(2).ShortCell("0").U8(200).Raw("kısa");
    TBytes manyChildren;
    manyChildren.I32(-1).I32(2).Raw(good().data).Header(0, 0x7fffffff);
    TBytes manyCells;
    manyCells.I32(-1).I32(2).Raw(good().data).Header(0x7fffffff).Cell("x");

    const struct
    {
        const char *name;
        QByteArray bytes;
        int rowsKept;
    } cases[] = {
        {"count beyond the file", countBeyond.data, 1},
        {"cell length beyond the file", lengthBeyond.data, 1},
        {"negative cell length", negativeLength.data, 1},
        {"header below 24", shortHeader.data, 1},
        {"header beyond the file", hugeHeader.data, 1},
        {"truncated last record", truncated.data, 1},
        {"older layout, truncated", legacyTruncated.data, 1},
        {"child count beyond the file", manyChildren.data, 1},
        {"cell count beyond the file", manyCells.data, 1},
        {"three bytes", QByteArray("\xff\xff\xff"), 0},
        {"marker without count", QByteArray::fromHex("FFFFFFFF0100"), 0},
    };
    for (const auto &c : cases) {
        TSystemList list;
        list.Add(MakeRecord(Texts({"eski"})));
        EXPECT_EQ(
            ErrorOf([&] { LoadSystemListFromBytes(list, c.bytes); }), QStringLiteral("Stream read error"))
            << c.name;
        EXPECT_EQ(list.Count(), c.rowsKept) << c.name;
        if (c.rowsKept > 0) {
            EXPECT_EQ(list.Cell(0, R::Select), QStringLiteral("1")) << c.name;
        }
    }
}

TEST(SystemListFile, TurkishTextFromTheWindowsCodePage)
{
    // "Şişli Çağrı Merkezi" and "Gölbaşı" in Windows-1254, as the Windows program wrote them.
    const QByteArray sisli = QByteArray::fromHex("DE69FE6C6920C761F072FD204D65726B657A69");
    const QByteArray golbasi = QByteArray::fromHex("47F66C6261FEFD");
    TBytes b;
    b.I32(-1).I32(2).Record({"1", sisli, "10.0.0.1", "", "3", "2", "", "", "0"});
    b.Record({"0", golbasi, "10.0.0.2"});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    WriteAll(path, b.data);

    TSystemList list;
    LoadSystemList(list, path);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Cell(0, R::Name), QStringLiteral("Şişli Çağrı Merkezi"));
    EXPECT_EQ(list.Cell(1, R::Name), QStringLiteral("Gölbaşı"));

    SaveSystemList(list, path);
    const QByteArray saved = ReadAll(path);
    EXPECT_TRUE(saved.contains(QStringLiteral("Şişli Çağrı Merkezi").toUtf8()));
    EXPECT_FALSE(saved.contains(sisli));
    TSystemList again;
    LoadSystemList(again, path);
    EXPECT_EQ(again.Cell(1, R::Name), QStringLiteral("Gölbaşı"));
}

TEST(SystemListFile, WhatIsNoReadableFileCannotBeOpened)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("boru.dat"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QDir(dir.path()).mkdir(QStringLiteral("klasor.dat"));
    for (const QString &path : {dir.filePath(QStringLiteral("yok.dat")), fifo,
             dir.filePath(QStringLiteral("klasor.dat")), QStringLiteral("/dev/zero")}) {
        TSystemList list;
        list.Add(MakeRecord(kMerkez));
        EXPECT_EQ(ErrorOf([&] { LoadSystemList(list, path); }), QStringLiteral("Cannot open file ") + path);
        EXPECT_EQ(list.Count(), 1);
    }
}

TEST(SystemListFile, CloseSaveWritesStateZeroAndKeepsMemory)
{
    TSystemList list;
    QStringList cells = kMerkez;
    cells[R::State] = QStringLiteral("6");
    list.Add(MakeRecord(cells));
    list.Add(MakeRecord(Texts({"0", "Kısa"}))); // no State cell yet
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    SaveSystemListOnClose(list, path);
    EXPECT_EQ(list.Cell(0, R::State), QStringLiteral("6"));
    EXPECT_EQ(list.Record(1).Cells.size(), 2);

    TSystemList loaded;
    LoadSystemList(loaded, path);
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.Record(0).Cells, kMerkez);
    EXPECT_EQ(loaded.Cell(1, R::State), QStringLiteral("0"));
    EXPECT_EQ(loaded.Cell(1, R::Name), QStringLiteral("Kısa"));
}

TEST(SystemListFile, SaveReplacesALongerFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    WriteAll(path, QByteArray(5000, 'q'));
    TSystemList list;
    SaveSystemList(list, path);
    EXPECT_EQ(ReadAll(path), QByteArray::fromHex("FFFFFFFF00000000"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), Texts({"ZYRdenetleyici.dat"}));
}

TEST(SystemListFile, UncreatableTargetsRaiseTheError)
{
    QTemporaryDir dir;
    const QString plainFile = dir.filePath(QStringLiteral("dosya"));
    WriteAll(plainFile, "x");
    QDir(dir.path()).mkdir(QStringLiteral("klasor"));
    TSystemList list;
    list.Add(MakeRecord(kMerkez));
    for (const QString &target : {dir.filePath(QStringLiteral("yok/ZYRdenetleyici.dat")),
             plainFile + QStringLiteral("/ZYRdenetleyici.dat"), dir.filePath(QStringLiteral("klasor"))}) {
        EXPECT_EQ(
            ErrorOf([&] { SaveSystemList(list, target); }), QStringLiteral("Cannot create file ") + target);
    }
    EXPECT_EQ(ReadAll(plainFile), QByteArray("x"));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("klasor"))).isDir());
}

// A write that fails half-way (here the file-size limit, which binds root too, like a full disk) leaves
// the old file as it was.
TEST(SystemListFile, FailedWriteKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    TSystemList old;
    old.Add(MakeRecord(kMerkez));
    SaveSystemList(old, path);
    const QByteArray before = ReadAll(path);

    TSystemList big;
    QStringList cells = kMerkez;
    cells[R::Details] = QString(100000, QLatin1Char('d'));
    big.Add(MakeRecord(cells));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const QString error = ErrorOf([&] { SaveSystemList(big, path); });
        _exit(error == QStringLiteral("Cannot create file ") + path ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not report the failed write";
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), Texts({"ZYRdenetleyici.dat"}));
}

// A real full file system: the close's save of a small list and of a large one both fail with the
// error and leave the old file as it was.
TEST(SystemListFile, FullDiskKeepsTheOldFile)
{
    for (const int records : {1, 2000}) {
        SCOPED_TRACE(records);
        TPrivateTmpfs fs("size=512k,mode=0755");
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        const QString path = fs.FilePath("ZYRdenetleyici.dat");
        TSystemList old;
        old.Add(MakeRecord(kMerkez));
        SaveSystemList(old, path);
        const QByteArray before = ReadAll(path);
        TSystemList list;
        QStringList cells = kMerkez;
        cells[R::Details] = QString(300, QLatin1Char('d'));
        for (int i = 0; i < records; ++i)
            list.Add(MakeRecord(cells));
        fs.FillLeaving(records == 1 ? 0 : 64 * 1024);
        EXPECT_EQ(ErrorOf([&] { SaveSystemListOnClose(list, path); }),
            QStringLiteral("Cannot create file ") + path);
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(QDir(fs.Path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
            Texts({"ZYRdenetleyici.dat", "fill"}));
    }
}

// A folder that takes no new file but a list file that is writable: written in place. As root, the save
// runs as an ordinary user (nobody), for whom folder permissions count.
TEST(SystemListFile, ReadOnlyFolderFallsBackToWritingInPlace)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    WriteAll(path, QByteArray(200, 'q'));
    const uid_t user = geteuid() == 0 ? 65534 : geteuid();
    ASSERT_EQ(chown(QFile::encodeName(path).constData(), user, user), 0);
    ASSERT_EQ(chown(QFile::encodeName(dir.path()).constData(), user, user), 0);
    QFile::setPermissions(dir.path(),
        QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther);
    TSystemList list;
    list.Add(MakeRecord(kMerkez));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
            _exit(2);
        _exit(ErrorOf([&] { SaveSystemList(list, path); }) == QStringLiteral("<no error>") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save failed";
    QFile::setPermissions(
        dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(ReadAll(path), SystemListBytes(list));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), Texts({"ZYRdenetleyici.dat"}));
}

} // namespace
