#include "console/Icons.h"
#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace {
QString IconPath(const char *name)
{
    return QStringLiteral(":/icons/") + QLatin1String(name);
}
} // namespace

QIcon Glyph(int index)
{
    static const char *const names[] = {nullptr, nullptr, nullptr, "box-empty.png", "box-ticked.png",
        "delete.png", "add.png", "check.png", "settings.png", "exit.png", "edit.png", "send.png", "about.png",
        "help.png", "guide.png", "log.png"};
    if (index < 0 || index >= int(std::size(names)) || !names[index])
        return {};
    // A new QIcon decodes its file again; the list asks for the tick boxes on every row it paints.
    // Never destroyed: pixmaps may not outlive the application object.
    static QIcon *const loaded = new QIcon[std::size(names)];
    if (loaded[index].isNull())
        loaded[index] = QIcon(IconPath(names[index]));
    return loaded[index];
}

QPixmap StateImage(int code)
{
    static const char *const names[] = {"dot-grey.png", "dot-red.png", "dot-green.png", "dot-green.png",
        "dot-red.png", "dot-red.png", "dot-red.png"};
    if (code < 0 || code >= int(std::size(names)))
        return {};
    return QPixmap(IconPath(names[code])); // QPixmap keeps loaded files in its own cache
}

QPixmap MarkedStateImage(int code, bool Unconfirmed, bool Acknowledged, bool Maintenance)
{
    if (!Unconfirmed && !Acknowledged && !Maintenance)
        return StateImage(code);
    QPixmap base
        = Unconfirmed && code >= 0 && code <= 6 ? QPixmap(IconPath("dot-amber.png")) : StateImage(code);
    if (base.isNull() || (!Acknowledged && !Maintenance))
        return base;
    // Drawn once per kind: the list asks for every visible row at each repaint.
    static QHash<int, QPixmap> drawn;
    const int key = code * 8 + (Unconfirmed ? 4 : 0) + (Acknowledged ? 2 : 0) + (Maintenance ? 1 : 0);
    if (const auto it = drawn.constFind(key); it != drawn.constEnd())
        return *it;
    QPixmap image = base.copy();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (Acknowledged) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(QColor(0x15, 0x65, 0xc0));
        painter.drawEllipse(QRectF(8.5, 8.5, 7, 7));
        QPainterPath tick;
        tick.moveTo(10.2, 12.2);
        tick.lineTo(11.6, 13.6);
        tick.lineTo(14, 10.4);
        painter.setPen(QPen(Qt::white, 1.3));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(tick);
    }
    if (Maintenance) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(QColor(0x5d, 0x6b, 0x7a));
        painter.drawRoundedRect(QRectF(8.5, 0.5, 7, 7), 1.5, 1.5);
        painter.setPen(QPen(Qt::white, 1.3));
        painter.drawLine(QPointF(10.3, 4), QPointF(13.7, 4));
    }
    painter.end();
    drawn.insert(key, image);
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (const char *name : {"app-16.png", "app-32.png", "app-64.png"})
        icon.addFile(IconPath(name));
    return icon;
}

QIcon TrayStateIcon(TTrayColour Colour)
{
    static const char *const names[] = {"grey", "green", "red"};
    const int index = int(Colour);
    static QIcon *const loaded = new QIcon[std::size(names)];
    if (loaded[index].isNull())
        for (int size : {16, 22, 32, 64})
            loaded[index].addFile(
                QStringLiteral(":/icons/tray-%1-%2.png").arg(QLatin1String(names[index])).arg(size));
    return loaded[index];
}
