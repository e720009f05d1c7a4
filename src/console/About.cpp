#include "console/About.h"
#include "console/Help.h"
#include "console/KeyPreview.h"
#include "platform/Version.h"
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QLabel *MakeLabel(QWidget *Parent, const char *Name, int Height, int PointSize)
{
    auto *label = new QLabel(Parent);
    label->setObjectName(QLatin1String(Name));
    label->setAlignment(Qt::AlignCenter);
    label->setFixedHeight(Height);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(PointSize);
    label->setFont(font);
    return label;
}

void MakeLink(QLabel *Label)
{
    QFont font = Label->font();
    font.setUnderline(true);
    Label->setFont(font);
    QPalette pal = Label->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label->setPalette(pal);
    Label->setCursor(Qt::PointingHandCursor);
}

} // namespace

TFormAbout::TFormAbout(QWidget *Parent)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("Hakkında"));
    setModal(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(246, 247, 252));
    setPalette(pal);

    lblHeader = MakeLabel(this, "lblHeader", 73, 16);
    QFont headerFont = lblHeader->font();
    headerFont.setBold(true);
    lblHeader->setFont(headerFont);
    QPalette headerPal = lblHeader->palette();
    headerPal.setColor(QPalette::WindowText, QColor(22, 84, 114));
    lblHeader->setPalette(headerPal);
    lblCompany = MakeLabel(this, "lblCompany", 47, 12);
    lblWeb = MakeLabel(this, "lblWeb", 43, 10);
    lblMail = MakeLabel(this, "lblMail", 24, 10);
    MakeLink(lblWeb);
    MakeLink(lblMail);
    lblWeb->installEventFilter(this);
    lblMail->installEventFilter(this);

    QWidget *panel = MakeTamamPanel(this, btnExit);
    connect(btnExit, &QPushButton::clicked, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lblHeader);
    layout->addWidget(lblCompany);
    layout->addWidget(lblWeb);
    layout->addWidget(lblMail);
    layout->addStretch();
    layout->addWidget(panel);
    setFixedSize(329, 252);

    CloseOnEscape(this, [this] { reject(); });
    SetTexts();
}

void TFormAbout::SetTexts()
{
    lblHeader->setText(QStringLiteral("ZYR DENETLEYİCİ   ") + GetVersionString());
    lblWeb->setText(QLatin1String(kCompanyWeb));
    lblMail->setText(QLatin1String(kCompanyMail));
    lblCompany->setText(QLatin1String(kCompanyName));
}

int TFormAbout::ShowAbout()
{
    SetTexts();
    return exec();
}

void TFormAbout::showEvent(QShowEvent *Event)
{
    SetTexts();
    if (QWidget *centre = parentWidget() ? parentWidget() : owner.data()) {
        const QRect frame = centre->window()->frameGeometry();
        move(frame.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    QDialog::showEvent(Event);
}

bool TFormAbout::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(Event)->button() == Qt::LeftButton) {
        if (Watched == lblWeb)
            OpenUrl(QUrl::fromUserInput(lblWeb->text()));
        else if (Watched == lblMail)
            OpenUrl(QUrl(QStringLiteral("mailto:") + lblMail->text()));
    }
    return QDialog::eventFilter(Watched, Event);
}
