#include "console/Main.h"
#include "console/Icons.h"
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QTreeView>

TMainForm *MainForm = nullptr;

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    MainForm = this;
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("ZYRdenetleyici"));
    setWindowIcon(AppIcon());
    resize(500, 500);
    setMinimumSize(400, 350);
    ServiceList = new QTreeView(this);
    ServiceList->setObjectName(QStringLiteral("ServiceList"));
    setCentralWidget(ServiceList);
    CreateMenu();
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::CreateMenu()
{
    auto item = [this](QAction *&action, const char *name, const QString &caption, int glyph) {
        action = menuBar()->addAction(ImageList1(glyph), caption);
        action->setObjectName(QLatin1String(name));
    };
    item(KontrolEt, "KontrolEt", QStringLiteral("Denetle"), 7);
    item(Ekle, "Ekle", QStringLiteral("Ekle"), 6);
    item(Ayarlar, "Ayarlar", QStringLiteral("Ayarlar"), 8);
    item(Gonder, "Gonder", QStringLiteral("Gönder"), 11);
    Yardim = menuBar()->addMenu(ImageList1(13), QStringLiteral("Yardım"));
    Yardim->setObjectName(QStringLiteral("Yardim"));
    LogFile1 = Yardim->addAction(ImageList1(15), QStringLiteral("Bilgi Dosyası"));
    LogFile1->setObjectName(QStringLiteral("LogFile1"));
    Yardim->addSeparator();
    KullanmKlavuzu1 = Yardim->addAction(ImageList1(14), QStringLiteral("Kullanım Kılavuzu"));
    KullanmKlavuzu1->setObjectName(QStringLiteral("KullanmKlavuzu1"));
    Hakknda1 = Yardim->addAction(ImageList1(12), QStringLiteral("Hakkında"));
    Hakknda1->setObjectName(QStringLiteral("Hakknda1"));
}
