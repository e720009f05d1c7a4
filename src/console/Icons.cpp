#include "console/Icons.h"

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
