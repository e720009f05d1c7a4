#include "console/Help.h"
#include "console/KeyPreview.h"
#include "platform/FileLocations.h"
#include "platform/Version.h"
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

TFormHelp::TFormHelp(QWidget *Parent)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FormHelp"));
    setWindowTitle(QStringLiteral("Kullanım Kılavuzu"));
    setModal(false);

    reAbout = new QTextBrowser(this);
    reAbout->setObjectName(QStringLiteral("reAbout"));
    reAbout->setFrameShape(QFrame::NoFrame);
    reAbout->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reAbout->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reAbout->setOpenLinks(true); // the guide's table of contents jumps inside the guide
    reAbout->setOpenExternalLinks(false);
    QPalette pal = reAbout->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, QColor(22, 84, 114));
    reAbout->setPalette(pal);

    QFile guide(QStringLiteral(":/") + QLatin1String(kHelpResourceName));
    if (guide.open(QIODevice::ReadOnly))
        reAbout->setHtml(QString::fromUtf8(guide.readAll()));

    QWidget *panel = MakeTamamPanel(this, btnExit);
    connect(btnExit, &QPushButton::clicked, this, &QDialog::hide);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(reAbout);
    layout->addWidget(panel);
    setFixedSize(491, 409);

    CloseOnEscape(this, [this] { hide(); });
}

void TFormHelp::ShowHelp()
{
    show();
    raise();
    activateWindow();
}

std::function<void(const QUrl &)> OpenUrlHook;

void OpenUrl(const QUrl &Url)
{
    // The outcome is not checked: a missing file or program shows whatever the desktop shows.
    if (OpenUrlHook)
        OpenUrlHook(Url);
    else
        QDesktopServices::openUrl(Url);
}

void OpenLogFile()
{
    const QString name = QLatin1String(kApplicationTitle) + QStringLiteral(".log");
    OpenUrl(QUrl::fromLocalFile(QDir::current().absoluteFilePath(FileLocations().DataFile(name))));
}

QWidget *MakeTamamPanel(QWidget *Window, QPushButton *&Button)
{
    Button = new QPushButton(QStringLiteral("Tamam"), Window);
    Button->setObjectName(QStringLiteral("btnExit"));
    Button->setAutoDefault(false);
    auto *panel = new QWidget(Window);
    panel->setFixedHeight(41);
    auto *panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(8, 8, 8, 8);
    panelLayout->addStretch();
    panelLayout->addWidget(Button);
    panelLayout->addStretch();
    return panel;
}
