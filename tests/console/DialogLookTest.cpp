// The colours of the dialogs as drawn, on the demo fleet's alarm systems. With ZYR_SCREENSHOT_DIR set, the
// drawn windows are also written there as PNG files (scripts/screenshots-dialogs).
#include "console/About.h"
#include "console/CheckListBox.h"
#include "console/Help.h"
#include "console/Main.h"
#include "console/ServiceList.h"
#include "console/UnitAlarmNotes.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "dialogs/DialogTestUtil.h"
#include "platform/Charset.h"
#include "session/ConsoleSession.h"
#include "SimConfig.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolTip>
#include <QTreeWidget>

namespace {

QImage Take(QWidget &Window, const char *Name)
{
    const QImage image = Window.grab().toImage();
    const QByteArray dir = qgetenv("ZYR_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        image.save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(Name) + QStringLiteral(".png"));
    return image;
}

QColor At(const QImage &Image, QPoint Point)
{
    return Image.pixelColor(
        QPoint(int(Point.x() * Image.devicePixelRatio()), int(Point.y() * Image.devicePixelRatio())));
}

QString DemoReport(const char *Name)
{
    for (const TSimSystem &system : DemoFleet("127.0.0.", 10))
        if (system.Name == Name)
            return DecodeExternalText(QByteArray::fromStdString(BuildReport(system)));
    ADD_FAILURE() << "no demo system " << Name;
    return QString();
}

// The desktop's tooltip background; the fields show it only if it differs from an ordinary field's.
QColor TooltipColour()
{
    const QColor tip = QToolTip::palette().color(QPalette::ToolTipBase);
    EXPECT_NE(tip, QApplication::palette().color(QPalette::Base));
    return tip;
}

class DialogLook : public ::testing::Test
{
protected:
    TSandbox sandbox;
};

TEST_F(DialogLook, RecordEditor)
{
    TFormNewRecord editor;
    TCheckList addresses;
    for (const char *a : {"merkez@example.com", "nobetci@example.com", "teknik.servis.ekibi@example.com"})
        addresses.Add(QLatin1String(a));
    editor.SetMode(false);
    editor.SetAddresses(addresses);
    editor.SetFields({QStringLiteral("Kanal alarmı"), QStringLiteral("127.0.0.10:17220"), QStringLiteral("0"),
        QStringLiteral("nobetci@example.com"), false});
    editor.show();
    const QImage image = Take(editor, "record-editor");
    editor.hide();
    EXPECT_EQ(At(image, QPoint(2, 2)), QColor(246, 247, 252));
    QLabel *label = editor.findChildren<QLabel *>().value(0);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(At(image, label->geometry().topLeft() + QPoint(1, 1)), QColor(237, 244, 252));
    const QRect field = Child<QLineEdit>(&editor, "edtName")->geometry();
    EXPECT_EQ(At(image, field.topLeft() + QPoint(field.width() / 2, 0)), QColor(153, 180, 209)); // its border
    // The fields and the address list show the tooltip colour, not the white of an ordinary field.
    for (QWidget *input : std::initializer_list<QWidget *>{Child<QLineEdit>(&editor, "edtName"),
             Child<QLineEdit>(&editor, "edtIP"), Child<TCheckListBox>(&editor, "edtEmails")})
        EXPECT_EQ(At(image, input->mapTo(&editor, QPoint(input->width() - 4, input->height() - 4))),
            TooltipColour())
            << input->objectName().toStdString();
    EXPECT_TRUE(Child<QPushButton>(&editor, "btnAdd")->font().bold()
        || Child<QPushButton>(&editor, "btnAdd")->fontInfo().bold());
}

TEST_F(DialogLook, DetailsOfTheAlarmSystems)
{
    struct TCase
    {
        const char *System, *File;
        bool Plus;
    } cases[] = {{"kanal-alarmi", "details", false}, {"plus-kanal-alarmi", "details-plus", true}};
    for (const TCase &c : cases) {
        TFormDetails details;
        const QString report = DemoReport(c.System);
        QImage image;
        WhileModal(
            [&] {
                return details.ShowFor(QStringLiteral("Alarm tespit edildi"),
                    QStringLiteral("08.06.2012   17:46:00"), report, c.Plus);
            },
            [&] {
                image = Take(details, c.File);
                details.reject();
            });
        ASSERT_FALSE(image.isNull());
        const QRect header = Child<QTreeWidget>(&details, "TLAlarm")
                                 ->header()
                                 ->geometry()
                                 .translated(Child<QTreeWidget>(&details, "TLAlarm")->geometry().topLeft());
        EXPECT_EQ(At(image, header.bottomLeft() + QPoint(header.width() / 2, -3)), QColor(224, 227, 245))
            << c.System;
        EXPECT_EQ(At(image,
                      Child<QWidget>(&details, "PnlBottom")->geometry().topLeft()
                          + QPoint(Child<QWidget>(&details, "PnlBottom")->width() / 2, 2)),
            QColor(224, 227, 245));
    }
}

TEST_F(DialogLook, SettingsPages)
{
    TConsoleSession session(sandbox.Path(QString()), QStringLiteral("ZYRdenetleyici.dat"));
    TLiveSettings values = session.Settings();
    values.Emails.Add(QStringLiteral("merkez@example.com"));
    values.Emails.Add(QStringLiteral("nobetci@example.com"));
    values.Emails.SetChecked(0, true);
    session.SetSettings(values);
    TFormSettings settings(session);
    Child<QCheckBox>(&settings, "cbPerCtrl")->setChecked(true);
    Child<QSpinBox>(&settings, "edtPeriod")->setValue(15);
    Child<QLineEdit>(&settings, "edtHost")->setText(QStringLiteral("smtp.example.com"));
    Child<QLineEdit>(&settings, "edtFrom")->setText(QStringLiteral("denetleyici@example.com"));
    settings.show();
    const char *files[] = {"settings-general", "settings-mail", "settings-addresses"};
    for (int page = 0; page < 3; ++page) {
        Child<QTabWidget>(&settings, "dxPageControl1")->setCurrentIndex(page);
        const QImage image = Take(settings, files[page]);
        EXPECT_EQ(At(image, QPoint(2, 2)), QColor(246, 247, 252)) << files[page];
        if (page == 2) {
            const QWidget *list = Child<TCheckListBox>(&settings, "clbEmails");
            EXPECT_EQ(At(image, list->mapTo(&settings, QPoint(list->width() - 4, list->height() - 4))),
                TooltipColour());
        }
    }
    settings.hide();
}

TEST_F(DialogLook, HelpAndAbout)
{
    TFormHelp help;
    help.show();
    const QImage guide = Take(help, "help");
    help.hide();
    EXPECT_EQ(At(guide, Child<QTextBrowser>(&help, "reAbout")->geometry().topLeft() + QPoint(3, 3)),
        help.palette().color(QPalette::ToolTipBase));

    TFormAbout about;
    QImage image;
    WhileModal([&] { return about.ShowAbout(); },
        [&] {
            image = Take(about, "about");
            about.reject();
        });
    EXPECT_EQ(At(image, QPoint(2, 2)), QColor(246, 247, 252));
    EXPECT_EQ(Child<QLabel>(&about, "lblHeader")->palette().color(QPalette::WindowText), QColor(22, 84, 114));
    EXPECT_TRUE(Child<QLabel>(&about, "lblWeb")->font().underline());
}

TEST_F(DialogLook, AlarmDialogsAndMarkedDots)
{
    TFormAcknowledge acknowledge;
    Child<QLineEdit>(&acknowledge, "edtNote")->setText(QStringLiteral("Site arandı, teknisyen yolda"));
    acknowledge.show();
    const QImage ack = Take(acknowledge, "acknowledge");
    acknowledge.hide();
    EXPECT_EQ(At(ack, QPoint(2, 2)), QColor(246, 247, 252));

    TFormMaintenance maintenance;
    Child<QLineEdit>(&maintenance, "edtNote")->setText(QStringLiteral("Disk değişimi"));
    Child<QComboBox>(&maintenance, "cbLength")->setCurrentIndex(1);
    emit Child<QComboBox>(&maintenance, "cbLength")->activated(1);
    maintenance.show();
    const QImage repair = Take(maintenance, "maintenance");
    maintenance.hide();
    EXPECT_EQ(At(repair, QPoint(2, 2)), QColor(246, 247, 252));

    // The main window's list with an alarm being confirmed, an acknowledged one and one in maintenance.
    TConsoleSession session(sandbox.Path(QString()), QStringLiteral("ZYRdenetleyici.dat"));
    TLiveSettings values = session.Settings();
    values.AlarmAfter = 3;
    session.SetSettings(values);
    // Each a system that refuses: checked once, the first is being confirmed; three times, the others are
    // confirmed.
    const char *rows[][3] = {{"Doğrulanan", "127.0.0.1:1", "1"}, {"Onaylanan", "127.0.0.1:2", "3"},
        {"Bakımdaki", "127.0.0.1:3", "3"}, {"Sağlam", "127.0.0.13:17220", "3"}};
    TSystemList &list = session.ListForView();
    std::vector<TRecordId> ids;
    for (const auto &row : rows) {
        TSystemRecord record;
        record.Cells = {QStringLiteral("1"), QString::fromUtf8(row[0]), QString::fromUtf8(row[1]), QString(),
            QStringLiteral("1"), QStringLiteral("3"), QString(), QStringLiteral("11.12.2026   09:40:00"),
            QStringLiteral("0")};
        ids.push_back(list.IdAt(list.Add(record)));
        for (int n = 0; n < QByteArray(row[2]).toInt() && ids.size() < 4; ++n) {
            session.CheckRecord(ids.back());
            ASSERT_TRUE(WaitUntil([&] { return !session.Busy(); }));
        }
    }
    ASSERT_TRUE(session.Acknowledge(ids[1], QStringLiteral("Site arandı"), false));
    ASSERT_TRUE(session.StartMaintenance(
        ids[2], QStringLiteral("Disk değişimi"), QDateTime::currentSecsSinceEpoch() + 4 * 3600, false));
    TMainForm form(session);
    form.resize(560, 200);
    form.show();
    QApplication::processEvents();
    const QImage dots = Take(form, "alarm-dots");
    form.hide();
    auto *view = Child<TServiceListView>(&form, "ServiceList");
    auto centre = [&](int Row) {
        const QRect cell
            = view->visualRect(view->model()->index(list.PositionOf(ids[size_t(Row)]), TSystemRecord::State));
        return view->viewport()->mapTo(&form, cell.center() + QPoint(0, 2));
    };
    // The dots' own colours: amber, red under the tick, red under the maintenance bar.
    EXPECT_EQ(At(dots, centre(0)).name(), QStringLiteral("#ffb300"));
    EXPECT_EQ(At(dots, centre(1) + QPoint(-3, 0)).name(), QStringLiteral("#e53935"));
    EXPECT_EQ(At(dots, centre(2) + QPoint(-3, 0)).name(), QStringLiteral("#e53935"));
}

} // namespace
