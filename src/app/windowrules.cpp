#include "windowrules.h"

WindowPlacement placementOnDesktop(const QSize &desktop)
{
    const int width = desktop.width() / 2;
    const int height = desktop.height() / 2;
    return {QSize(width, height),
            QPoint((desktop.width() - width) / 2, (desktop.height() - height) / 2)};
}

QString windowTitleFor(const QString &version)
{
    return QStringLiteral("Plexa Exporter. Powered by Zentriq for Dunmere. ") + version;
}

QString recentEntryText(int position, const QString &path)
{
    QString shown = path;
    shown.replace(QLatin1Char('&'), QLatin1String("&&"));
    return QString::number(position) + QLatin1Char(' ') + shown;
}
