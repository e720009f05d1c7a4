// The help menu's three windows: the user guide, the about box and the log file opener.
#include "console/About.h"
#include "console/Help.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "dialogs/DialogTestUtil.h"
#include "platform/Version.h"
#include "session/ConsoleSession.h"
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>

namespace {

class HelpMenu : public ::testing::Test
{
protected:
    TSandbox sandbox;
    QList<QUrl> opened;

    void SetUp() override
    {
        OpenUrlHook = [this](const QUrl &Url) { opened << Url; };
    }
    void TearDown() override { OpenUrlHook = nullptr; }
};

TEST_F(HelpMenu, GuideIsLoadedAndCoversTheLinuxProgram)
{
    TFormHelp help;
    const QString text = Child<QTextBrowser>(&help, "reAbout")->toPlainText();
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Kullanım Kılavuzu"));
    for (const char *topic : {"Kurulum", "Ayarlar", "Sistem ekleme ve değiştirme", "Liste ve sütunları",
             "Elle denetleme", "e-posta ile gönderilmesi", "Sıralama", "Programın kapatılması",
             "Bilgi dosyası", "Uyumluluk", "Sabit adresler", "Güvenlik", "Standart dışı portlar",
             "Port yönlendirme", "UTF-8", "libZyrPlus.so", "Geçmiş ve kullanılabilirlik", "Aylık rapor",
             "Alarmların doğrulanması, onaylanması ve bakım"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(topic))) << topic;
    // Every picture of the guide is in the program: a missing one would show as a broken image.
    const QString html = Child<QTextBrowser>(&help, "reAbout")->toHtml();
    int pictures = 0;
    for (const char *name : {"alarm-dots", "acknowledge", "maintenance", "history"}) {
        const QUrl url(QStringLiteral("qrc:/help/%1.png").arg(QLatin1String(name)));
        EXPECT_TRUE(html.contains(url.toString())) << name;
        const QVariant image
            = Child<QTextBrowser>(&help, "reAbout")->document()->resource(QTextDocument::ImageResource, url);
        EXPECT_FALSE(image.value<QImage>().isNull() && image.value<QPixmap>().isNull()) << name;
        pictures += html.count(url.toString());
    }
    EXPECT_EQ(pictures, 4);
    EXPECT_TRUE(Child<QTextBrowser>(&help, "reAbout")->isReadOnly());
    EXPECT_EQ(Child<QTextBrowser>(&help, "reAbout")->palette().color(QPalette::Text), QColor(22, 84, 114));
}

TEST_F(HelpMenu, GuideStaysOpenBesideTheMainWindowAndClosesWithEscOrTamam)
{
    QMainWindow main;
    main.show();
    TFormHelp help(&main);
    help.ShowHelp();
    EXPECT_TRUE(help.isVisible());
    EXPECT_FALSE(help.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // the main window stays usable
    help.ShowHelp(); // already open: brought to the front, still one window
    EXPECT_TRUE(help.isVisible());

    KeyClick(Child<QTextBrowser>(&help, "reAbout"), Qt::Key_Escape);
    EXPECT_FALSE(help.isVisible());
    help.ShowHelp();
    Child<QPushButton>(&help, "btnExit")->click();
    EXPECT_FALSE(help.isVisible());
}

TEST_F(HelpMenu, AboutShowsTheVersionOfTheCaptionAndOpensItsLinks)
{
    QMainWindow main;
    main.setGeometry(100, 100, 500, 500);
    main.show();
    TFormAbout about(&main);
    QString header;
    QPoint centre;
    const int result = WhileModal([&] { return about.ShowAbout(); },
        [&] {
            header = Child<QLabel>(&about, "lblHeader")->text();
            centre = about.frameGeometry().center();
            MouseClick(Child<QLabel>(&about, "lblWeb"), Child<QLabel>(&about, "lblWeb")->rect().center());
            MouseClick(Child<QLabel>(&about, "lblMail"), Child<QLabel>(&about, "lblMail")->rect().center());
            KeyClick(Child<QPushButton>(&about, "btnExit"), Qt::Key_Escape);
        });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(header, QStringLiteral("ZYR DENETLEYİCİ   ") + GetVersionString());
    EXPECT_TRUE(GetCaption().endsWith(QLatin1Char(' ') + GetVersionString()));
    EXPECT_FALSE(GetVersionString().isEmpty());
    EXPECT_LE((centre - main.frameGeometry().center()).manhattanLength(), 3);
    EXPECT_EQ(Child<QLabel>(&about, "lblCompany")->text(), QStringLiteral("Dorvanek"));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("http"));
    EXPECT_EQ(opened[0].host(), Child<QLabel>(&about, "lblWeb")->text());
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("mailto:") + Child<QLabel>(&about, "lblMail")->text()));
    EXPECT_TRUE(opened[0].host().endsWith(QStringLiteral(".example.com")));

    const int byButton = WhileModal(
        [&] { return about.ShowAbout(); }, [&] { Child<QPushButton>(&about, "btnExit")->click(); });
    EXPECT_EQ(byButton, QDialog::Accepted);
}

// Made without a parent, as the program makes them, the modal dialogs open centred on the main window.
TEST_F(HelpMenu, DialogsWithoutAParentOpenCentredOnTheWindowTheyAreGiven)
{
    QMainWindow main;
    main.setGeometry(120, 90, 500, 500);
    main.show();
    TConsoleSession session(sandbox.Path(QString()), QStringLiteral("ZYRdenetleyici.dat"));
    TFormAbout about;
    TFormNewRecord editor;
    TFormSettings settings(session);
    about.CentreOn(&main);
    editor.CentreOn(&main);
    settings.CentreOn(&main);
    for (QDialog *dialog : std::initializer_list<QDialog *>{&about, &editor, &settings}) {
        QPoint centre;
        WhileModal([&] { return dialog->exec(); },
            [&] {
                centre = dialog->frameGeometry().center();
                dialog->reject();
            });
        EXPECT_LE((centre - main.frameGeometry().center()).manhattanLength(), 3)
            << dialog->objectName().toStdString();
    }
}

TEST_F(HelpMenu, LogFileOpensTheLogOfTheCurrentDirectory)
{
    Log(QStringLiteral("Denetleme başladı. IP: 127.0.0.1"));
    OpenLogFile();
    ASSERT_EQ(opened.size(), 1);
    ASSERT_TRUE(opened[0].isLocalFile());
    EXPECT_EQ(QFileInfo(opened[0].toLocalFile()).canonicalFilePath(),
        QFileInfo(sandbox.Path(QStringLiteral("ZYRdenetleyici.log"))).canonicalFilePath());
    // What was written so far is in the file the viewer opens.
    QFile file(opened[0].toLocalFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QString::fromUtf8(file.readAll()).contains(QStringLiteral("Denetleme başladı. IP: 127.0.0.1")));
}

} // namespace
