#pragma once
#include <QMainWindow>
#include <QPointer>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTreeView;

// The main window: the list of monitored systems, the menu, the tray icon and the check scheduling.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    QTreeView *ServiceList = nullptr;
    QAction *KontrolEt = nullptr;
    QAction *Ekle = nullptr;
    QAction *Ayarlar = nullptr;
    QAction *Gonder = nullptr;
    QMenu *Yardim = nullptr;
    QAction *LogFile1 = nullptr;
    QAction *KullanmKlavuzu1 = nullptr;
    QAction *Hakknda1 = nullptr;
    QMenu *PopupTrayIcon = nullptr;
    QAction *k1 = nullptr;
    QSystemTrayIcon *TrayIcon = nullptr;

private:
    void CreateMenu();
};

extern TMainForm *MainForm;
