// The record editor, and the list commands driven on the real main window over a console session: the
// keys, clicks and dialogs that reach each command. What the commands do to the records, the log and the
// list file is tested on the session alone (tests/session).
#include "console/About.h"
#include "console/CheckListBox.h"
#include "console/DigitsOnly.h"
#include "console/Help.h"
#include "console/Icons.h"
#include "console/Main.h"
#include "console/ServiceList.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "dialogs/DialogTestUtil.h"
#include "platform/Errors.h"
#include "records/SystemListFile.h"
#include "session/ConsoleSession.h"
#include "Simulator.h"
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>
#include <sys/socket.h>
#include <unistd.h>

// Qt's own entry for key events as the platform delivers them (shortcuts included), as its test library uses.
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow *w, QEvent::Type t, int k, Qt::KeyboardModifiers mods,
    const QString &text = QString(), bool autorep = false, ushort count = 1);

namespace {

TSystemRecord Record(const QString &Name, const QString &State = QStringLiteral("0"),
    const QString &Email = QString(), const QString &Plus = QStringLiteral("0"),
    const QString &Details = QString())
{
    TSystemRecord record;
    record.Cells = {QStringLiteral("1"), Name, QStringLiteral("127.0.0.1"), Email, QStringLiteral("2"), State,
        Details, QStringLiteral("08.06.2012   17:46:00"), Plus};
    return record;
}

// An ordinary report without devices.
QString EmptyReport()
{
    const QChar s(4);
    return QChar(5) + QStringLiteral("0") + s + QStringLiteral("2.9.4") + s + QStringLiteral("1 GB") + s
        + QStringLiteral("0") + s + QStringLiteral("2 GB") + s + QStringLiteral("0") + QChar(6);
}

// The record editor's controls, by their names.
struct TEditorControls
{
    explicit TEditorControls(const TFormNewRecord &Editor)
        : edtName(Child<QLineEdit>(&Editor, "edtName"))
        , edtIP(Child<QLineEdit>(&Editor, "edtIP"))
        , edtDeviceCnt(Child<QLineEdit>(&Editor, "edtDeviceCnt"))
        , edtEmails(Child<TCheckListBox>(&Editor, "edtEmails"))
        , cbZYRplus(Child<QCheckBox>(&Editor, "cbZYRplus"))
        , btnAdd(Child<QPushButton>(&Editor, "btnAdd"))
    {
    }
    QLineEdit *edtName, *edtIP, *edtDeviceCnt;
    TCheckListBox *edtEmails;
    QCheckBox *cbZYRplus;
    QPushButton *btnAdd;
};

class RecordEditor : public ::testing::Test
{
protected:
    TSandbox sandbox;
    TFormNewRecord editor;
    const TEditorControls ed{editor};
    int beeps = 0;

    void SetUp() override
    {
        TDigitsOnly::Beep = [this] { ++beeps; };
    }
    void TearDown() override { TDigitsOnly::Beep = nullptr; }
};

TEST_F(RecordEditor, ModesSetCaptionsAndDeviceCountButLeaveTheExtendedTick)
{
    struct TCase
    {
        bool Edit;
        const char *Title, *Confirm, *Count;
    } cases[] = {{false, "Yeni Kayıt", "Kaydet", "0"}, {true, "Kayıt Düzenle", "Değiştir", ""}};
    for (const TCase &c : cases) {
        ed.edtName->setText(QStringLiteral("x"));
        ed.edtIP->setText(QStringLiteral("y"));
        ed.cbZYRplus->setChecked(true);
        editor.SetMode(c.Edit);
        EXPECT_EQ(editor.windowTitle(), QString::fromUtf8(c.Title));
        EXPECT_EQ(ed.btnAdd->text(), QString::fromUtf8(c.Confirm));
        EXPECT_EQ(ed.edtDeviceCnt->text(), QLatin1String(c.Count));
        EXPECT_TRUE(ed.edtName->text().isEmpty());
        EXPECT_TRUE(ed.edtIP->text().isEmpty());
        EXPECT_FALSE(ed.btnAdd->icon().isNull());
        EXPECT_TRUE(ed.cbZYRplus->isChecked());
    }
}

TEST_F(RecordEditor, BlankAddressIsRefusedAndTheDialogStaysOpen)
{
    bool stillOpen = false;
    const int result = WhileModal(
        [&] {
            editor.SetMode(false);
            return editor.exec();
        },
        [&] {
            ed.edtName->setText(QStringLiteral("  Merkez "));
            ed.edtIP->setText(QStringLiteral("   "));
            ed.btnAdd->click();
            stillOpen = editor.isVisible();
            KeyClick(ed.edtIP, Qt::Key_Escape);
        });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("HATA"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("IP Adresi boş bırakılamaz"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(ed.edtIP->text(), QString());
    EXPECT_EQ(ed.edtName->text(), QStringLiteral("Merkez"));
}

TEST_F(RecordEditor, DeviceCountTakesTwoDigitsAndBeepsOnOtherKeys)
{
    editor.SetMode(true);
    editor.show();
    TypeChar(ed.edtDeviceCnt, QLatin1Char('a'));
    EXPECT_EQ(beeps, 1);
    TypeChar(ed.edtDeviceCnt, QLatin1Char(' '));
    EXPECT_EQ(beeps, 2);
    for (QChar c : QStringLiteral("123"))
        TypeChar(ed.edtDeviceCnt, c);
    EXPECT_EQ(ed.edtDeviceCnt->text(), QStringLiteral("12"));
    KeyClick(ed.edtDeviceCnt, Qt::Key_Backspace);
    EXPECT_EQ(ed.edtDeviceCnt->text(), QStringLiteral("1"));
    EXPECT_EQ(beeps, 2);
    editor.hide();
}

TEST_F(RecordEditor, EnterInTheAddressListConfirmsAndAnEmptyCountBecomesZero)
{
    TCheckList addresses;
    addresses.Add(QStringLiteral("b@x.com"));
    addresses.Add(QStringLiteral("a@x.com"));
    bool nameHadFocus = false;
    const int result = WhileModal(
        [&] {
            editor.SetMode(false);
            editor.SetAddresses(addresses);
            return editor.exec();
        },
        [&] {
            nameHadFocus = editor.focusWidget() == ed.edtName;
            ed.edtIP->setText(QStringLiteral(" 127.0.0.5:17220 "));
            ed.edtDeviceCnt->clear();
            ed.edtEmails->item(1)->setCheckState(Qt::Checked);
            ed.edtEmails->setFocus();
            KeyClick(ed.edtEmails, Qt::Key_Return);
        });
    EXPECT_TRUE(nameHadFocus);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(ed.edtIP->text(), QStringLiteral("127.0.0.5:17220"));
    EXPECT_EQ(ed.edtDeviceCnt->text(), QStringLiteral("0"));
    EXPECT_EQ(ed.edtEmails->item(0)->text(), QStringLiteral("a@x.com")); // sorted
    EXPECT_EQ(editor.Fields().Email, QStringLiteral("b@x.com"));
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
}

// The commands on the real main window over a session, with the dialogs they use.
class ListCommands : public ::testing::Test
{
protected:
    TSandbox sandbox;
    TConsoleSession session{sandbox.Path(QString()), QStringLiteral("ZYRdenetleyici.dat")};
    TFormSettings settings{session};
    TMainForm form{session};
    TFormNewRecord editor{&form};
    const TEditorControls ed{editor};
    TFormDetails details;
    TFormHelp help;
    TFormAbout about;
    TServiceListView *const view = Child<TServiceListView>(&form, "ServiceList");
    QAbstractItemModel *const model = view->model();

    void SetUp() override
    {
        TLiveSettings values = session.Settings();
        values.Emails.Add(QStringLiteral("b@x.com"));
        values.Emails.Add(QStringLiteral("a@x.com"));
        session.SetSettings(values);
        form.JoinDialogs({editor, details, help, about, settings});
        form.show();
    }
    void TearDown() override
    {
        form.hide(); // the list must not be laid out again while the window is destroyed
    }

    TSystemList &List() { return session.ListForView(); }
    QAction *Action(const char *Name) const { return Child<QAction>(&form, Name); }
    // The list as the file holds it now.
    std::unique_ptr<TSystemList> Saved()
    {
        auto saved = std::make_unique<TSystemList>();
        LoadSystemList(*saved, sandbox.Path(QStringLiteral("ZYRdenetleyici.dat")));
        return saved;
    }
    QRect Cell(int Row, int Column) { return view->visualRect(model->index(Row, Column)); }
    void Focus(int Row) { view->setCurrentIndex(model->index(Row, TSystemRecord::Name)); }
};

TEST_F(ListCommands, AddOpensTheEditorWhoseConfirmedFieldsBecomeAMarkedRecord)
{
    List().Add(Record(QStringLiteral("Eski"), QStringLiteral("3")));
    const int result = WhileModal(
        [&] {
            Action("Ekle")->trigger();
            return editor.result();
        },
        [&] {
            EXPECT_EQ(editor.windowTitle(), QStringLiteral("Yeni Kayıt"));
            ed.edtName->setText(QStringLiteral("Şube Ğ"));
            ed.edtIP->setText(QStringLiteral("127.0.0.5"));
            ed.edtDeviceCnt->clear();
            ed.edtEmails->item(0)->setCheckState(Qt::Checked);
            ed.cbZYRplus->setChecked(true);
            ed.btnAdd->click();
        });
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(List().Count(), 2);
    const int added = List().Cell(0, TSystemRecord::Name) == QStringLiteral("Şube Ğ") ? 0 : 1;
    const QStringList expected{QStringLiteral("1"), QStringLiteral("Şube Ğ"), QStringLiteral("127.0.0.5"),
        QStringLiteral("a@x.com"), QStringLiteral("0"), QStringLiteral("0"), QString(), QString(),
        QStringLiteral("-1")};
    EXPECT_EQ(List().Record(added).Cells, expected);
    EXPECT_EQ(Saved()->Record(added).Cells, expected);
}

TEST_F(ListCommands, ChangeOffersTheAddressesWithTheRecordsTickedAndTheNextAddKeepsTheExtendedTick)
{
    List().Add(Record(QStringLiteral("Merkez"), QStringLiteral("6"), QStringLiteral("gone@x.com,A@x.com"),
        QStringLiteral("-1"), QStringLiteral("rapor")));
    Focus(0);
    QStringList offered;
    bool plusShown = false;
    WhileModal(
        [&] {
            Action("Deitir1")->trigger();
            return 0;
        },
        [&] {
            for (int i = 0; i < ed.edtEmails->count(); ++i)
                offered << ed.edtEmails->item(i)->text()
                        + (ed.edtEmails->item(i)->checkState() == Qt::Checked ? QStringLiteral("+")
                                                                              : QString());
            plusShown = ed.cbZYRplus->isChecked();
            EXPECT_EQ(editor.windowTitle(), QStringLiteral("Kayıt Düzenle"));
            EXPECT_EQ(ed.edtName->text(), QStringLiteral("Merkez"));
            EXPECT_EQ(ed.edtIP->text(), QStringLiteral("127.0.0.1"));
            EXPECT_EQ(ed.edtDeviceCnt->text(), QStringLiteral("2"));
            ed.edtName->setText(QStringLiteral("Merkez 2"));
            ed.btnAdd->click();
        });
    EXPECT_EQ(offered, (QStringList{QStringLiteral("a@x.com+"), QStringLiteral("b@x.com")}));
    EXPECT_TRUE(plusShown);
    const QStringList after = List().Record(0).Cells;
    EXPECT_EQ(after[TSystemRecord::Email], QStringLiteral("a@x.com"));
    EXPECT_EQ(after[TSystemRecord::Name], QStringLiteral("Merkez 2"));
    EXPECT_EQ(after[TSystemRecord::ColZYRplus], QStringLiteral("-1"));
    EXPECT_EQ(Saved()->Cell(0, TSystemRecord::Name), QStringLiteral("Merkez 2"));

    bool plusOnAdd = false;
    WhileModal(
        [&] {
            Action("Ekle")->trigger();
            return 0;
        },
        [&] {
            plusOnAdd = ed.cbZYRplus->isChecked();
            editor.reject();
        });
    EXPECT_TRUE(plusOnAdd);
}

// The operator opens "Değiştir" on a list sorted by "Durum"; the periodic cycle runs and ends while the
// dialog is open and re-sorts the rows; the confirmed edit still lands on the system that was opened.
TEST_F(ListCommands, ChangeConfirmedAfterACycleReSortedTheRowsLandsOnTheOpenedSystem)
{
    TSimSystem up;
    up.Port = 0;
    up.DelayMs = 200;
    up.Devices = {{"A1B2C3", 0, 4, "0,0,0,0"}};
    TSimSystem down = up;
    down.Mode = "refuse";
    TSimulator sim({down, up});
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    TSystemRecord a = Record(QStringLiteral("Ankara"), QStringLiteral("3"));
    a.Cells[TSystemRecord::IP] = QString::fromStdString(sim.Target(0));
    a.Cells[TSystemRecord::DeviceCnt] = QStringLiteral("1");
    TSystemRecord b = Record(QStringLiteral("Bursa"), QStringLiteral("1"));
    b.Cells[TSystemRecord::IP] = QString::fromStdString(sim.Target(1));
    b.Cells[TSystemRecord::DeviceCnt] = QStringLiteral("1");
    List().Add(a);
    List().Add(b);
    List().SortBy(TSystemRecord::State, true); // Bursa (1), Ankara (3)
    TLiveSettings values = session.Settings();
    values.MailAfterCtrl = 2;
    session.SetSettings(values);
    Focus(0);
    bool cycleEnded = false;
    WhileModal(
        [&] {
            Action("Deitir1")->trigger();
            return 0;
        },
        [&] {
            session.Engine().CycleThenAlarm(TCheckOrigin::Timer);
            cycleEnded = WaitUntil([&] { return !session.Busy(); });
            ed.edtName->setText(QStringLiteral("Bursa Merkez"));
            ed.btnAdd->click();
        });
    ASSERT_TRUE(cycleEnded);
    // Ankara stopped answering and Bursa came back: the rows swapped places under the dialog.
    const auto saved = Saved();
    ASSERT_EQ(saved->Count(), 2);
    QStringList names;
    for (int i = 0; i < saved->Count(); ++i)
        names << saved->Cell(i, TSystemRecord::Name) + QLatin1Char(' ') + saved->Cell(i, TSystemRecord::IP);
    EXPECT_EQ(names,
        (QStringList{QStringLiteral("Ankara ") + a.Cells[TSystemRecord::IP],
            QStringLiteral("Bursa Merkez ") + b.Cells[TSystemRecord::IP]}));
    EXPECT_EQ(List().Cell(0, TSystemRecord::State), QStringLiteral("1"));
    EXPECT_EQ(List().Cell(1, TSystemRecord::State), QStringLiteral("3"));
}

TEST_F(ListCommands, CancelledChangeLeavesRecordAndLogAlone)
{
    List().Add(Record(QStringLiteral("Merkez")));
    Focus(0);
    const QStringList before = List().Record(0).Cells;
    const QString log = sandbox.LogText();
    WhileModal(
        [&] {
            Action("Deitir1")->trigger();
            return 0;
        },
        [&] {
            ed.edtName->setText(QStringLiteral("Başka"));
            KeyClick(ed.edtName, Qt::Key_Escape);
        });
    EXPECT_EQ(List().Record(0).Cells, before);
    EXPECT_EQ(sandbox.LogText(), log);
    EXPECT_FALSE(QFile::exists(sandbox.Path(QStringLiteral("ZYRdenetleyici.dat"))));
}

TEST_F(ListCommands, DeleteAsksFirst)
{
    List().Add(Record(QStringLiteral("Merkez")));
    Focus(0);
    TMessageBoxHook::SetNextAnswer(IDCANCEL);
    Action("KaydSil1")->trigger();
    ASSERT_EQ(List().Count(), 1);
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ONAY"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("\"Merkez\" isimli kayıt silinsin mi?"));
    EXPECT_FALSE(sandbox.LogText().contains(QStringLiteral("silindi")));

    TMessageBoxHook::SetNextAnswer(IDOK);
    Action("KaydSil1")->trigger();
    EXPECT_EQ(List().Count(), 0);
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("\"Merkez\" isimli kayıt silindi")));
}

TEST_F(ListCommands, ShortcutsActOnTheFocusedRow)
{
    List().Add(Record(QStringLiteral("Merkez")));
    form.activateWindow();
    view->setFocus();
    Focus(0);
    QApplication::processEvents();
    if (QApplication::focusWidget() != view)
        GTEST_SKIP() << "the platform gave the list no keyboard focus";
    auto keys = [&](int Key) {
        QWindow *window = form.windowHandle();
        qt_handleKeyEvent(window, QEvent::KeyPress, Key, Qt::ControlModifier);
        QApplication::processEvents();
        qt_handleKeyEvent(window, QEvent::KeyRelease, Key, Qt::ControlModifier);
        QApplication::processEvents();
    };
    bool editorOpened = false;
    WhileModal(
        [&] {
            keys(Qt::Key_E);
            return 0;
        },
        [&] {
            editorOpened = editor.isVisible() && ed.edtName->text() == QStringLiteral("Merkez");
            editor.reject();
        });
    EXPECT_TRUE(editorOpened);

    // The offscreen platform does not hand the focus back by itself when the dialog closes.
    form.activateWindow();
    view->setFocus();
    QApplication::processEvents();
    TMessageBoxHook::SetNextAnswer(IDOK);
    keys(Qt::Key_Delete);
    EXPECT_EQ(List().Count(), 0);
}

// Every command without a mouse: Alt and the underlined letter on the tool bar, F10 to the tool bar,
// Space and Enter on the focused row; the captions stay the commands' names.
TEST_F(ListCommands, KeyboardReachesTheCommandsAndTheFocusedRow)
{
    List().Add(Record(QStringLiteral("Arıza"), QStringLiteral("1"), {}, QStringLiteral("0"), EmptyReport()));
    List().Add(Record(QStringLiteral("Merkez"), QStringLiteral("3"), {}, QStringLiteral("0"), EmptyReport()));
    List().SortBy(TSystemRecord::Name, true);
    form.activateWindow();
    view->setFocus();
    Focus(0);
    QApplication::processEvents();
    if (QApplication::focusWidget() != view)
        GTEST_SKIP() << "the platform gave the list no keyboard focus";
    QWindow *window = form.windowHandle();
    auto press = [&](int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier, const QString &Text = {}) {
        qt_handleKeyEvent(window, QEvent::KeyPress, Key, Modifiers, Text);
        QApplication::processEvents();
        qt_handleKeyEvent(window, QEvent::KeyRelease, Key, Modifiers, Text);
        QApplication::processEvents();
    };
    auto back = [&] {
        form.activateWindow();
        view->setFocus();
        QApplication::processEvents();
    };
    QToolBar *menu = Child<QToolBar>(&form, "MainMenu");
    QMenu *help = Child<QMenu>(&form, "Yardim");
    auto button = [&](QAction *Action) { return qobject_cast<QToolButton *>(menu->widgetForAction(Action)); };

    // The captions are the names; only the button's letter is marked.
    const std::pair<QAction *, const char *> captions[]
        = {{Action("KontrolEt"), "Denetle"}, {Action("Ekle"), "Ekle"}, {Action("Ayarlar"), "Ayarlar"},
            {Action("Gonder"), "Gönder"}, {Action("Rapor"), "Rapor"}, {help->menuAction(), "Yardım"}};
    for (const auto &[action, caption] : captions) {
        EXPECT_EQ(action->text(), QString::fromUtf8(caption));
        EXPECT_EQ(button(action)->text(), QLatin1Char('&') + QString::fromUtf8(caption));
    }

    // Space on the focused row toggles its mark; held down it does not flicker.
    press(Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("0"));
    qt_handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::processEvents();
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("0"));
    press(Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("1"));

    // Enter opens the details of a row with a report only.
    bool opened = false;
    QTimer::singleShot(0, [&] { opened = details.isVisible(); });
    press(Qt::Key_Return);
    EXPECT_FALSE(opened) << "state 1 has no report";
    Focus(1);
    QString shown;
    WhileModal(
        [&] {
            press(Qt::Key_Enter, Qt::KeypadModifier);
            return 0;
        },
        [&] {
            shown = Child<QLabel>(&details, "lblAlarm")->text();
            details.reject();
        });
    EXPECT_EQ(shown, QStringLiteral("Çalışıyor"));
    back();

    // The dot tells its state and its time.
    EXPECT_EQ(model->index(1, TSystemRecord::State).data(Qt::ToolTipRole).toString(),
        QStringLiteral("Çalışıyor\n08.06.2012   17:46:00"));

    // A mnemonic clicks its button now or a moment later (the button's animated click), so each window
    // is watched for from before the key and closed once it is up.
    auto whenShown = [&](int Key, QWidget *Window, const std::function<void()> &Close) {
        bool shown = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!shown && Window->isVisible()) {
                shown = true;
                Close();
            }
        });
        poll.start(10);
        press(Key, Qt::AltModifier);
        WaitUntil([&] { return shown && !Window->isVisible(); }, 5000);
        if (Window->isVisible())
            Close(); // a failing test ends instead of hanging
        return shown;
    };

    // Alt+E, Alt+A, Alt+G open what their buttons open.
    EXPECT_TRUE(whenShown(Qt::Key_E, &editor, [&] { editor.reject(); }));
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("Yeni Kayıt"));
    back();
    EXPECT_TRUE(whenShown(Qt::Key_A, &settings, [&] { settings.reject(); }));
    back();
    TMessageBoxHook::Clear();
    press(Qt::Key_G, Qt::AltModifier);
    WaitUntil([] { return !TMessageBoxHook::Shown.isEmpty(); }, 2000);
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(
        TMessageBoxHook::Shown[0].Text, QStringLiteral("Görüntülenen sonuçlar e-posta ile gönderilsin mi?"));
    back();

    // Alt+Y opens the help menu.
    EXPECT_TRUE(whenShown(Qt::Key_Y, help, [&] { help->close(); }));
    back();

    // F10 takes the focus to the first command; Alt+D runs the check (the console is busy meanwhile, and
    // F10 then finds the first command still usable: "Rapor", which only reads the history).
    press(Qt::Key_F10);
    EXPECT_EQ(QApplication::focusWidget(), button(Action("KontrolEt")));
    back();
    // Systems that take the connection and never answer keep the check running for a while.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const QString target = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    for (int row = 0; row < List().Count(); ++row)
        List().SetCell(row, TSystemRecord::IP, target);
    press(Qt::Key_D, Qt::AltModifier);
    ASSERT_TRUE(WaitUntil([&] { return session.Busy(); }, 2000));
    press(Qt::Key_F10);
    EXPECT_EQ(QApplication::focusWidget(), button(Action("Rapor")));
    ASSERT_TRUE(WaitUntil([&] { return !session.Busy(); }));
    ::close(silent);
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("Denetleme başladı. IP: ") + target));
}

TEST_F(ListCommands, SelectClickToggles)
{
    List().Add(Record(QStringLiteral("Merkez")));
    QApplication::processEvents();
    MouseClick(view->viewport(), Cell(0, TSystemRecord::Select).center());
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("0"));
    EXPECT_EQ(Saved()->Cell(0, TSystemRecord::Select), QStringLiteral("0"));
    MouseClick(view->viewport(), Cell(0, TSystemRecord::Select).center());
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("1"));
    // A right click is no toggle.
    MouseClick(view->viewport(), Cell(0, TSystemRecord::Select).center(), Qt::RightButton);
    EXPECT_EQ(List().Cell(0, TSystemRecord::Select), QStringLiteral("1"));
}

TEST_F(ListCommands, StateClickOpensTheDetailsOnlyWithAReport)
{
    List().Add(Record(QStringLiteral("A"), QStringLiteral("1"), {}, QStringLiteral("0"), EmptyReport()));
    List().Add(Record(QStringLiteral("B"), QStringLiteral("2"), {}, QStringLiteral("0"), EmptyReport()));
    List().Add(Record(QStringLiteral("C"), QStringLiteral("3"), {}, QStringLiteral("0"), EmptyReport()));
    List().Add(Record(QStringLiteral("D"), QStringLiteral("5"), {}, QStringLiteral("-1"),
        QStringLiteral(R"({"ServerName":"Artı","ServerIp":"127.0.0.9"})")));
    QApplication::processEvents();
    for (int row = 0; row < 2; ++row) {
        bool opened = false;
        QTimer::singleShot(0, [&] { opened = details.isVisible(); });
        MouseClick(view->viewport(), Cell(row, TSystemRecord::State).center());
        QApplication::processEvents();
        EXPECT_FALSE(opened) << "state " << List().Cell(row, TSystemRecord::State).toStdString();
    }
    struct TSeen
    {
        QString Alarm, Time, FirstRow;
        int Rows = 0;
    };
    auto open = [&](int Row) {
        TSeen seen;
        WhileModal(
            [&] {
                MouseClick(view->viewport(), Cell(Row, TSystemRecord::State).center());
                return 0;
            },
            [&] {
                const auto *rows = Child<QTreeWidget>(&details, "TLAlarm");
                seen = {Child<QLabel>(&details, "lblAlarm")->text(),
                    Child<QLabel>(&details, "lblTime")->text(), rows->topLevelItem(0)->text(0),
                    rows->topLevelItemCount()};
                details.reject();
            });
        return seen;
    };
    const TSeen ordinary = open(2);
    EXPECT_EQ(ordinary.Alarm, QStringLiteral("Çalışıyor"));
    EXPECT_EQ(ordinary.Time, QStringLiteral("08.06.2012   17:46:00"));
    EXPECT_EQ(ordinary.Rows, 3); // a report without devices still opens
    const TSeen extended = open(3);
    EXPECT_EQ(extended.Alarm, QStringLiteral("Aygıt fazla tespit edildi"));
    EXPECT_EQ(extended.FirstRow, QStringLiteral("Artı(127.0.0.9)"));
}

TEST_F(ListCommands, ContextMenuOnlyOnARightClickOverARow)
{
    List().Add(Record(QStringLiteral("Merkez")));
    QApplication::processEvents();
    QWidget *viewport = view->viewport();
    QMenu *menu = Child<QMenu>(&form, "PopupMenu1");
    auto request = [&](QContextMenuEvent::Reason Reason, QPoint At) {
        QContextMenuEvent event(Reason, At, viewport->mapToGlobal(At));
        QApplication::sendEvent(
            Reason == QContextMenuEvent::Mouse ? viewport : static_cast<QWidget *>(view), &event);
        const bool shown = menu->isVisible();
        menu->hide();
        return shown;
    };
    EXPECT_FALSE(request(QContextMenuEvent::Keyboard, Cell(0, TSystemRecord::Name).center()));
    EXPECT_FALSE(request(QContextMenuEvent::Mouse, QPoint(20, viewport->height() - 5)));
    EXPECT_TRUE(request(QContextMenuEvent::Mouse, Cell(0, TSystemRecord::Name).center()));
    QStringList items;
    for (QAction *action : menu->actions())
        items << action->text();
    EXPECT_EQ(items,
        (QStringList{QStringLiteral("Denetle"), QStringLiteral("Kaydı Sil"), QStringLiteral("Değiştir"),
            QStringLiteral("Geçmiş"), QStringLiteral("Bakıma Al")}));
}

// "Denetle" of the row menu checks the focused record alone, marked or not; a record whose ZYRplus flag
// is no flag is refused with the general error display.
TEST_F(ListCommands, RowMenuChecksTheFocusedRecord)
{
    List().Add(Record(QStringLiteral("A")));
    List().Add(Record(QStringLiteral("B")));
    List().SetCell(0, TSystemRecord::Select, QStringLiteral("0"));
    List().SetCell(0, TSystemRecord::IP, QStringLiteral("127.0.0.1:1"));
    List().SetCell(1, TSystemRecord::IP, QStringLiteral("127.0.0.1:2"));
    Focus(0);
    Action("Kontrolet2")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !session.Busy(); }));
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("Denetleme başladı. IP: 127.0.0.1:1")));
    EXPECT_FALSE(sandbox.LogText().contains(QStringLiteral("127.0.0.1:2")));
    const int a = List().Cell(0, TSystemRecord::Name) == QStringLiteral("A") ? 0 : 1;
    EXPECT_EQ(List().Cell(a, TSystemRecord::State), QStringLiteral("1"));
    EXPECT_EQ(List().Cell(1 - a, TSystemRecord::State), QStringLiteral("0"));

    List().SetCell(1 - a, TSystemRecord::ColZYRplus, QStringLiteral("belki"));
    Focus(1 - a);
    Action("Kontrolet2")->trigger();
    EXPECT_FALSE(session.Busy());
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("'belki' is not a valid boolean value."));
}

TEST_F(ListCommands, AFailedSaveIsShownOnce)
{
    // A folder where the list file should be: no write succeeds.
    ASSERT_TRUE(QDir().mkdir(sandbox.Path(QStringLiteral("ZYRdenetleyici.dat"))));
    List().Add(Record(QStringLiteral("A")));
    List().Add(Record(QStringLiteral("B")));
    QApplication::processEvents();
    MouseClick(view->viewport(), Cell(0, TSystemRecord::Select).center());
    MouseClick(view->viewport(), Cell(1, TSystemRecord::Select).center());
    EXPECT_EQ(List().Cell(1, TSystemRecord::Select), QStringLiteral("0"));
    int shown = 0;
    for (const auto &box : TMessageBoxHook::Shown)
        shown += box.Title == QStringLiteral("ZYRdenetleyici")
            && box.Text == QStringLiteral("Cannot create file ZYRdenetleyici.dat.");
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(TMessageBoxHook::Shown.size(), 1);
}

TEST_F(ListCommands, SendCommandAsksAndIsBusyMeanwhile)
{
    std::atomic<int> sent{0};
    session.Engine().SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        QThread::msleep(100);
        ++sent;
    };
    TMessageBoxHook::SetNextAnswer(IDCANCEL);
    Action("Gonder")->trigger();
    EXPECT_FALSE(session.Busy());
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(
        TMessageBoxHook::Shown[0].Text, QStringLiteral("Görüntülenen sonuçlar e-posta ile gönderilsin mi?"));

    TMessageBoxHook::SetNextAnswer(IDOK);
    Action("Gonder")->trigger();
    // The mails go out on the mail thread; the commands stay locked meanwhile.
    EXPECT_TRUE(session.Busy());
    EXPECT_FALSE(Action("Ekle")->isEnabled());
    EXPECT_FALSE(view->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return !session.Busy(); }));
    EXPECT_EQ(sent.load(), 1);
    EXPECT_TRUE(Action("Ekle")->isEnabled());

    // A selection error reaches the general error display and the commands come back.
    session.Engine().SendStatusMailsJob = [](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        throw EZyrError(QStringLiteral("'x' is not a valid floating point value"));
    };
    TMessageBoxHook::Clear();
    TMessageBoxHook::SetNextAnswer(IDOK);
    Action("Gonder")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return TMessageBoxHook::Shown.size() == 2; }));
    EXPECT_FALSE(session.Busy());
    EXPECT_TRUE(Action("Ekle")->isEnabled());
    EXPECT_EQ(TMessageBoxHook::Shown[1].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[1].Text, QStringLiteral("'x' is not a valid floating point value."));
}

// The alarm's entries of the row menu appear when they apply; each dialog's confirmed fields reach the
// session, and the dot, its tooltip and the details window's status line carry the marks.
TEST_F(ListCommands, AcknowledgeAndMaintenanceThroughTheRowMenuMarkTheDot)
{
    List().Add(Record(QStringLiteral("Arıza"), QStringLiteral("6"), {}, QStringLiteral("0"), EmptyReport()));
    QApplication::processEvents();
    QMenu *menu = Child<QMenu>(&form, "PopupMenu1");
    auto entries = [&] {
        const QPoint at = Cell(0, TSystemRecord::Name).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
        menu->hide();
        QStringList items;
        for (QAction *action : menu->actions())
            items << action->text();
        return items.mid(4); // after Denetle, Kaydı Sil, Değiştir and Geçmiş
    };
    auto tooltip = [&] { return model->index(0, TSystemRecord::State).data(Qt::ToolTipRole).toString(); };
    auto dot = [&] {
        return model->index(0, TSystemRecord::State).data(Qt::DecorationRole).value<QPixmap>().toImage();
    };
    Focus(0);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Alarmı Onayla"), QStringLiteral("Bakıma Al")}));
    EXPECT_EQ(dot(), StateImage(6).toImage());

    auto *ack = form.findChild<QDialog *>(QStringLiteral("FormAcknowledge"));
    ASSERT_TRUE(ack);
    WhileModal(
        [&] {
            Action("AlarmOnayla")->trigger();
            return 0;
        },
        [&] {
            EXPECT_EQ(ack->windowTitle(), QStringLiteral("Alarmı onayla"));
            EXPECT_EQ(Child<QLabel>(ack, "lblNote")->text(), QStringLiteral("Not:"));
            EXPECT_EQ(
                Child<QCheckBox>(ack, "cbAll")->text(), QStringLiteral("Tüm işaretli alarmlara uygula"));
            auto *note = Child<QLineEdit>(ack, "edtNote");
            EXPECT_EQ(note->maxLength(), 200);
            EXPECT_FALSE(Child<QPushButton>(ack, "btnOk")->isEnabled()) << "a note is required";
            note->setText(QStringLiteral("   "));
            EXPECT_FALSE(Child<QPushButton>(ack, "btnOk")->isEnabled());
            note->setText(QStringLiteral(" Site <arandı> "));
            Child<QPushButton>(ack, "btnOk")->click();
        });
    EXPECT_TRUE(
        sandbox.LogText().contains(QStringLiteral("Alarm onaylandı. IP: 127.0.0.1 Not: Site <arandı>")));
    const TAlarmMark *mark = session.Engine().Mark(List().IdAt(0));
    ASSERT_TRUE(mark && mark->Ack);
    EXPECT_EQ(tooltip(),
        QStringLiteral("Alarm tespit edildi\n08.06.2012   17:46:00\nOnaylandı: Site <arandı> (")
            + FormatMarkTime(mark->Ack->Time) + QLatin1Char(')'));
    EXPECT_EQ(dot(), MarkedStateImage(6, false, true, false).toImage());
    EXPECT_NE(dot(), StateImage(6).toImage());
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Onayı Kaldır"), QStringLiteral("Bakıma Al")}));
    WhileModal(
        [&] {
            MouseClick(view->viewport(), Cell(0, TSystemRecord::State).center());
            return 0;
        },
        [&] {
            EXPECT_EQ(Child<QLabel>(&details, "lblAlarm")->text(),
                QStringLiteral("Alarm tespit edildi (onaylandı: Site <arandı>)"));
            details.reject();
        });

    auto *maintenance = form.findChild<QDialog *>(QStringLiteral("FormMaintenance"));
    ASSERT_TRUE(maintenance);
    qint64 end = 0;
    WhileModal(
        [&] {
            Action("BakimaAl")->trigger();
            return 0;
        },
        [&] {
            EXPECT_EQ(maintenance->windowTitle(), QStringLiteral("Bakım"));
            auto *length = Child<QComboBox>(maintenance, "cbLength");
            QStringList lengths;
            for (int i = 0; i < length->count(); ++i)
                lengths << length->itemText(i);
            EXPECT_EQ(lengths,
                (QStringList{QStringLiteral("1 saat"), QStringLiteral("4 saat"), QStringLiteral("8 saat"),
                    QStringLiteral("24 saat")}));
            EXPECT_EQ(Child<QCheckBox>(maintenance, "cbAll")->text(),
                QStringLiteral("Tüm işaretli sistemlere uygula"));
            auto *when = Child<QDateTimeEdit>(maintenance, "edtEnd");
            const qint64 inAnHour = QDateTime::currentSecsSinceEpoch() + 3600;
            EXPECT_LE(std::abs(when->dateTime().toSecsSinceEpoch() - inAnHour), 60);
            length->setCurrentIndex(3);
            emit length->activated(3);
            EXPECT_LE(std::abs(when->dateTime().toSecsSinceEpoch() - (inAnHour + 23 * 3600)), 60);
            // A chosen date and time stands as well.
            when->setDateTime(QDateTime::currentDateTime().addDays(2));
            end = when->dateTime().toSecsSinceEpoch();
            Child<QLineEdit>(maintenance, "edtNote")->setText(QStringLiteral("Disk"));
            Child<QPushButton>(maintenance, "btnOk")->click();
        });
    ASSERT_TRUE(session.Engine().InMaintenance(List().IdAt(0)));
    EXPECT_EQ(session.Engine().Mark(List().IdAt(0))->Maintenance->End, end);
    EXPECT_TRUE(tooltip().endsWith(
        QStringLiteral("\nBakımda: Disk (bitiş ") + FormatMarkTime(end) + QLatin1Char(')')))
        << tooltip().toStdString();
    EXPECT_EQ(dot(), MarkedStateImage(6, false, true, true).toImage());
    EXPECT_EQ(entries(),
        (QStringList{
            QStringLiteral("Onayı Kaldır"), QStringLiteral("Bakıma Al"), QStringLiteral("Bakımı Bitir")}));
    Action("BakimiBitir")->trigger();
    Action("OnayiKaldir")->trigger();
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("Bakım bitti. IP: 127.0.0.1")));
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("Alarm onayı kaldırıldı. IP: 127.0.0.1")));
    EXPECT_EQ(dot(), StateImage(6).toImage());
    EXPECT_EQ(tooltip(), QStringLiteral("Alarm tespit edildi\n08.06.2012   17:46:00"));
}

// An alarm not confirmed yet has an amber dot that tells its count.
TEST_F(ListCommands, UnconfirmedAlarmShowsAnAmberDotWithItsCount)
{
    TLiveSettings values = session.Settings();
    values.AlarmAfter = 3;
    session.SetSettings(values);
    List().Add(Record(QStringLiteral("Kapalı")));
    List().SetCell(0, TSystemRecord::IP, QStringLiteral("127.0.0.1:1"));
    session.CheckRecord(List().IdAt(0));
    ASSERT_TRUE(WaitUntil([&] { return !session.Busy(); }));
    QApplication::processEvents();
    const QModelIndex state = model->index(0, TSystemRecord::State);
    EXPECT_EQ(state.data(Qt::ToolTipRole).toString(),
        QStringLiteral("Doğrulanıyor: 1/3\nÇalışmıyor\n") + List().Cell(0, TSystemRecord::ColDateTime));
    const QImage amber = state.data(Qt::DecorationRole).value<QPixmap>().toImage();
    EXPECT_EQ(amber, MarkedStateImage(1, true, false, false).toImage());
    EXPECT_NE(amber, StateImage(1).toImage());
    EXPECT_EQ(amber.pixelColor(8, 10).name(), QStringLiteral("#ffb300"));
}

} // namespace
