#include "store/AppUtils.h"
#include "platform/Logger.h"
#include "Sandbox.h"
#include <gtest/gtest.h>

namespace {
TCheckList MakeList(std::initializer_list<const char *> texts)
{
    TCheckList list;
    for (const char *text : texts)
        list.Add(QString::fromUtf8(text));
    return list;
}
} // namespace

TEST(CheckList, KeepsItemsSortedIgnoringCaseAndIsAPlainValue)
{
    TCheckList list = MakeList({"c@x.com", "B@x.com", "a@x.com", "b@x.com"});
    EXPECT_EQ(list.Items(),
        QStringList({QStringLiteral("a@x.com"), QStringLiteral("B@x.com"), QStringLiteral("b@x.com"),
            QStringLiteral("c@x.com")}));
    EXPECT_EQ(list.IndexOf(QStringLiteral("C@X.COM")), 3);
    EXPECT_EQ(list.IndexOf(QStringLiteral("c@x.co")), -1);

    // The same addresses added in another order make an equal list; ticks and letter case count.
    TCheckList same = MakeList({"B@x.com", "c@x.com", "b@x.com", "a@x.com"});
    EXPECT_TRUE(same == list);
    same.SetChecked(3, true);
    EXPECT_FALSE(same == list);
    EXPECT_FALSE(MakeList({"a@x.com"}) == MakeList({"A@x.com"}));

    // A copy is a snapshot: what is done to it leaves the original as it was, and the other way round.
    TCheckList copy = list;
    copy.SetChecked(0, true);
    copy.Delete(1);
    copy.Add(QStringLiteral("d@x.com"));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_FALSE(list.Checked(0));
    EXPECT_EQ(list.Text(1), QStringLiteral("B@x.com"));
    SetCheckedList(list, QStringLiteral("c@x.com"));
    EXPECT_EQ(GetCheckedList(copy), QStringLiteral("a@x.com"));
    list.Clear();
    EXPECT_EQ(copy.Count(), 4);
    EXPECT_THROW(list.Delete(0), std::out_of_range);
}

TEST(CheckList, CheckedListRoundTrip)
{
    TCheckList list = MakeList({"a@x.com", "b@x.com", "c@x.com"});
    EXPECT_EQ(GetCheckedList(list), QString());
    list.SetChecked(1, true);
    EXPECT_EQ(GetCheckedList(list), QStringLiteral("b@x.com"));

    // Earlier ticks go; letter case is ignored; names the list lacks are skipped.
    SetCheckedList(list, QStringLiteral("C@X.com,nobody@x.com,a@x.com"));
    EXPECT_FALSE(list.Checked(1));
    EXPECT_EQ(GetCheckedList(list), QStringLiteral("a@x.com,c@x.com"));
    SetCheckedList(list, QString());
    EXPECT_EQ(GetCheckedList(list), QString());
    // Only whole addresses match.
    SetCheckedList(list, QStringLiteral("a@x.co,b@x.com.tr"));
    EXPECT_EQ(GetCheckedList(list), QString());
}

TEST(CheckList, AddressWithApostropheDoesNotHideTheOnesAfterIt)
{
    TCheckList list = MakeList({"o'neil@x.com", "b@x.com", "c@x.com"});
    list.SetChecked(0, true);
    list.SetChecked(2, true);
    const QString to = GetCheckedList(list);
    SetCheckedList(list, to);
    EXPECT_EQ(GetCheckedList(list), to);
}

TEST(AppUtils, FlagConversions)
{
    EXPECT_TRUE(IntToBool(1));
    EXPECT_FALSE(IntToBool(2));
    EXPECT_FALSE(IntToBool(-1));
    EXPECT_FALSE(IntToBool(0));
    EXPECT_EQ(BoolToInt(true), 1);
    EXPECT_EQ(BoolToChar(true), QLatin1Char('1'));
    EXPECT_EQ(BoolToChar(false), QLatin1Char('0'));
}

TEST(AppUtils, IsInvalidEmail)
{
    const struct
    {
        const char *address;
        bool invalid;
    } cases[] = {
        {"ali.veli@mail.example.com.tr", false},
        {"a@b.c", false},
        {"x+tag!#%&*'{}|~^`?/@d.co", false},
        {"a@b.c.", false}, // only the first dot of the domain counts
        {"a@b..c", false},
        {"ali veli@x.com", true},
        {"@x.com", true},
        {"ali@", true},
        {"ali", true},
        {"a@b@x.com", true},
        {"a@x", true},
        {"a@.com", true},
        {"a@com.", true},
        {"a@c", true},
        {"Şule@x.com", true},
        {"şule@x.com", true},
        {"İpek@x.com", true},
        {"ılgaz@x.com", true},
        {"ÇAĞ@x.com", true},
        {"Ärger@x.com", true},
        {"Öz@x.com", true},
        {"Über@x.com", true},
        {"straße@x.com", true},
        {"a[1]@x.com", true},
        {"a(b)@x.com", true},
        {"a:b@x.com", true},
        // Stored forms would break: the list separator, the INI key end, line breaks.
        {"a,b@x.com", true},
        {"a=b@x.com", true},
        {"a\r\nRCPT TO:<b@x.com>@x.com", true},
        {"a\tb@x.com", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsInvalidEmail(QString::fromUtf8(c.address)), c.invalid) << c.address;
}

TEST(AppUtils, FailedStartupShortcutIsLoggedNotRaised)
{
    TSandbox sandbox;
    // Files where the two autostart folders should be: nothing can be created, for root neither.
    WriteBytes(sandbox.Path("xdg") + QStringLiteral("/autostart"), "x");
    WriteBytes(sandbox.Path("config") + QStringLiteral("/autostart"), "x");
    const QString logPath = sandbox.Path("home") + QStringLiteral("/ZYRdenetleyici.log");
    {
        TLogger log(logPath);
        Logger = &log;
        EXPECT_NO_THROW(CreateStartupShortcut(QStringLiteral("ZYRdenetleyici 2.1")));
        Logger = nullptr;
    }
    const QString line = QString::fromUtf8(ReadBytes(logPath));
    EXPECT_TRUE(line.contains(QStringLiteral("Bir hata oluştu. Hata kodu: 10006. Cannot create file ")
        + sandbox.OwnAutostart() + QStringLiteral("ZYRdenetleyici 2.1.desktop")))
        << line.toStdString();
}
