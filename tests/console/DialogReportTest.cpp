// "Rapor": the tool bar command, its dialog and the file it saves through the file chooser, over a history
// written by the real writer; with ZYR_SCREENSHOT_DIR set, the dialog and the HTML report as a rich-text
// view draws it are written there as PNG files (scripts/screenshots-dialogs).
#include "console/Main.h"
#include "console/MonthReport.h"
#include "console/ReportDialog.h"
#include "dialogs/DialogTestUtil.h"
#include "FileBytes.h"
#include "history/HistoryStore.h"
#include "LoggedFolder.h"
#include "session/ConsoleSession.h"
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QWindow>

// Qt's own entry for key events as the platform delivers them (shortcuts included).
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow *w, QEvent::Type t, int k, Qt::KeyboardModifiers mods,
    const QString &text, bool autorep, ushort count);

namespace {

qint64 InJune(int day, int hour)
{
    return QDateTime(QDate(2025, 6, day), QTime(hour, 0)).toSecsSinceEpoch();
}

// June 2025: "Kuzey" down from 01:00 to 02:00 on the 1st and available an hour before and two after;
// "Güney" in an alarm for the ten minutes a result holds at no Period. In the list: Güney, then Kuzey.
const char *const kJuneCsv = "\xEF\xBB\xBF"
                             "İsim;IP Adresi;Kullanılabilirlik (%);Alarm süresi (dk);Kesinti sayısı;"
                             "En uzun kesinti (dk);Bilinmeyen süre (dk);Bakım (dk)\r\n"
                             "Güney;10.1.0.2;0,0;10;0;0;43190;0\r\n"
                             "Kuzey;10.1.0.1;75,0;60;1;60;42960;0\r\n";

void WriteJune(const QString &db)
{
    THistoryStore store(db, {});
    const auto result = [](const char *address, const char *name, qint64 time, int state, int period) {
        return THistoryResult{QString::fromUtf8(address), QString::fromUtf8(name), time, state,
            THistoryOrigin::Periodic, period};
    };
    store.Record({result("10.1.0.1", "Kuzey", InJune(1, 0), 3, 60)});
    store.Record({result("10.1.0.1", "Kuzey", InJune(1, 1), 1, 60)});
    store.Record(
        {result("10.1.0.1", "Kuzey", InJune(1, 2), 3, 60), result("10.1.0.2", "Güney", InJune(15, 8), 6, 0)});
}

class ReportCommandWindow : public ::testing::Test
{
protected:
    TLoggedFolder dir;
    std::unique_ptr<TConsoleSession> session;
    std::unique_ptr<TMainForm> form;
    QStringList asked; // the suggested names and filters the chooser was given
    QString answer;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        TMessageBoxHook::Clear();
        WriteJune(QDir::current().filePath(QStringLiteral("ZYRdenetleyici.db")));
        session
            = std::make_unique<TConsoleSession>(QDir::currentPath(), QStringLiteral("ZYRdenetleyici.dat"));
        for (const char *address : {"10.1.0.2", "10.1.0.1"}) {
            TSystemRecord r;
            r.Cells = {QStringLiteral("1"), QLatin1String(address), QLatin1String(address), QString(),
                QStringLiteral("0"), QStringLiteral("0"), QString(), QString(), QStringLiteral("0")};
            session->ListForView().Add(r);
        }
        form = std::make_unique<TMainForm>(*session);
        TFormReport::ChooseFile = [this](QWidget *, const QString &Suggested, const QString &Filter) {
            asked << Suggested << Filter;
            return answer;
        };
    }
    void TearDown() override
    {
        TFormReport::ChooseFile = nullptr;
        form.reset();
        session.reset();
        TMessageBoxHook::Clear();
    }

    TFormReport *Dialog() const { return form->findChild<TFormReport *>(QStringLiteral("FormReport")); }

    // Opens the dialog with the command, sets month and format, clicks "Kaydet"; true when it closed.
    bool Save(QDate Month, int Format)
    {
        bool closed = false;
        WhileModal(
            [&] {
                Child<QAction>(form.get(), "Rapor")->trigger();
                return 0;
            },
            [&] {
                TFormReport *dialog = Dialog();
                Child<QDateEdit>(dialog, "edtMonth")->setDate(Month);
                Child<QComboBox>(dialog, "cbFormat")->setCurrentIndex(Format);
                Child<QPushButton>(dialog, "btnSave")->click();
                closed = !dialog->isVisible();
                if (!closed)
                    dialog->reject();
            });
        return closed;
    }
};

TEST_F(ReportCommandWindow, ToolBarPlaceKeyAndEnabledWhileBusy)
{
    QToolBar *menu = Child<QToolBar>(form.get(), "MainMenu");
    QAction *rapor = Child<QAction>(form.get(), "Rapor");
    const QList<QAction *> actions = menu->actions();
    EXPECT_EQ(actions.indexOf(rapor), actions.indexOf(Child<QAction>(form.get(), "Gonder")) + 1);
    EXPECT_EQ(rapor->text(), QStringLiteral("Rapor"));
    EXPECT_FALSE(rapor->icon().isNull());

    emit session->BusyChanged(true);
    EXPECT_FALSE(Child<QAction>(form.get(), "Gonder")->isEnabled());
    EXPECT_TRUE(rapor->isEnabled());
    emit session->BusyChanged(false);

    // Alt+R opens the dialog, on the last month.
    form->show();
    form->activateWindow();
    QApplication::processEvents();
    QDate shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (TFormReport *dialog = Dialog(); dialog && dialog->isVisible()) {
            shown = Child<QDateEdit>(dialog, "edtMonth")->date();
            dialog->reject();
        }
    });
    poll.start(10);
    qt_handleKeyEvent(
        form->windowHandle(), QEvent::KeyPress, Qt::Key_R, Qt::AltModifier, QString(), false, 1);
    qt_handleKeyEvent(
        form->windowHandle(), QEvent::KeyRelease, Qt::Key_R, Qt::AltModifier, QString(), false, 1);
    WaitUntil([&] { return shown.isValid(); }, 5000);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(shown, QDate(today.year(), today.month(), 1).addMonths(-1));
}

TEST_F(ReportCommandWindow, SavesTheChosenMonthAsTheCommandLineDoes)
{
    answer = QDir::current().filePath(QStringLiteral("haziran.csv"));
    EXPECT_TRUE(Save(QDate(2025, 6, 1), 0));
    EXPECT_EQ(asked,
        (QStringList{
            QStringLiteral("ZYRdenetleyici-rapor-2025-06.csv"), QStringLiteral("CSV dosyası (*.csv)")}));
    EXPECT_EQ(ReadBytes(answer), QByteArray(kJuneCsv));
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());

    answer = QDir::current().filePath(QStringLiteral("haziran.html"));
    asked.clear();
    EXPECT_TRUE(Save(QDate(2025, 6, 1), 1));
    EXPECT_EQ(asked.value(0), QStringLiteral("ZYRdenetleyici-rapor-2025-06.html"));
    const QString html = QString::fromUtf8(ReadBytes(answer));
    EXPECT_TRUE(html.contains(QStringLiteral("<td>Güney</td><td>10.1.0.2</td><td class=\"n\">0,0</td>")));
    EXPECT_LT(html.indexOf(QStringLiteral("Güney")), html.indexOf(QStringLiteral("Kuzey")));

    // Cancelled in the chooser: nothing written, the dialog stays open.
    answer.clear();
    EXPECT_FALSE(Save(QDate(2025, 5, 1), 0));
    EXPECT_FALSE(QFile::exists(QStringLiteral("ZYRdenetleyici-rapor-2025-05.csv")));
}

TEST_F(ReportCommandWindow, FailuresAreShownAndLeaveNoFile)
{
    answer = QDir::current().filePath(QStringLiteral("yok/haziran.csv"));
    EXPECT_FALSE(Save(QDate(2025, 6, 1), 0));
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("HATA"));
    EXPECT_TRUE(TMessageBoxHook::Shown[0].Text.startsWith(
        QStringLiteral("Rapor kaydedilemedi: ") + answer + QStringLiteral(": ")))
        << TMessageBoxHook::Shown[0].Text.toStdString();
    EXPECT_FALSE(QFile::exists(QStringLiteral("yok")));

    TMessageBoxHook::Clear();
    ASSERT_TRUE(QFile::remove(QStringLiteral("ZYRdenetleyici.db")));
    answer = QDir::current().filePath(QStringLiteral("haziran.csv"));
    EXPECT_FALSE(Save(QDate(2025, 6, 1), 0));
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text,
        QStringLiteral("Geçmiş veritabanı bulunamadı: ") + session->HistoryFileName());
    EXPECT_FALSE(QFile::exists(answer));
    EXPECT_FALSE(QFile::exists(QStringLiteral("ZYRdenetleyici.db"))) << "a missing database is not made";
}

QImage Shot(QWidget &Window, const char *Name)
{
    const QImage image = Window.grab().toImage();
    const QByteArray folder = qgetenv("ZYR_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        image.save(
            QString::fromUtf8(folder) + QLatin1Char('/') + QLatin1String(Name) + QStringLiteral(".png"));
    return image;
}

// The dialog, and the HTML report of a small fleet's month as a rich-text view shows it: a row per system
// and its 30-day strip, green, red, blended and grey.
TEST(ReportLook, DialogAndHtmlReport)
{
    TSandbox sandbox;
    TFormReport dialog;
    QImage image;
    WhileModal([&] { return dialog.ShowReport(sandbox.Path(QStringLiteral("ZYRdenetleyici.db")), {}); },
        [&] {
            image = Shot(dialog, "report-dialog");
            dialog.reject();
        });
    EXPECT_FALSE(image.isNull());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Rapor"));

    const QString db = sandbox.Path(QStringLiteral("ZYRdenetleyici.db"));
    {
        THistoryStore store(db, {});
        const char *names[] = {"Merkez", "Şube 1", "Şube 2", "Arşiv"};
        for (int day = 1; day <= 30; ++day)
            for (int hour = 0; hour < 24; hour += 2) {
                std::vector<THistoryResult> cycle;
                for (int i = 0; i < 4; ++i) {
                    // Merkez always up; Şube 1 down on the 10th and 11th; Şube 2 down every few hours of
                    // the third week; Arşiv gone after the 20th.
                    int state = 3;
                    if (i == 1 && (day == 10 || day == 11))
                        state = 1;
                    if (i == 2 && day >= 15 && day < 22 && hour % 6 == 0)
                        state = 4;
                    if (i == 3 && day > 20)
                        continue;
                    cycle.push_back({QStringLiteral("10.2.0.%1").arg(i + 1), QString::fromUtf8(names[i]),
                        InJune(day, hour), state, THistoryOrigin::Periodic, 60});
                }
                store.Record(std::move(cycle));
            }
    }
    const QByteArray html = MonthReport(db, QDate(2025, 6, 1), TReportFormat::Html,
        {QStringLiteral("10.2.0.1"), QStringLiteral("10.2.0.2"), QStringLiteral("10.2.0.3")},
        QDateTime::currentSecsSinceEpoch());
    QTextBrowser view;
    view.setObjectName(QStringLiteral("reportView"));
    view.setHtml(QString::fromUtf8(html));
    view.resize(980, 260);
    view.show();
    const QImage page = Shot(view, "report-html");
    view.hide();
    // The strip of Şube 1 on the 10th is drawn in full red, Arşiv's last days grey.
    bool red = false, grey = false;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            red = red || c == QColor(0xd0, 0x00, 0x00);
            grey = grey || c == QColor(0xc0, 0xc0, 0xc0);
        }
    EXPECT_TRUE(red);
    EXPECT_TRUE(grey);
}

} // namespace
