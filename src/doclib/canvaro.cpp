#include <roruri1/canvaro.h>

#include <QSettings>

namespace Zazizi {

namespace {

const char RecentKey[] = "recentDocuments";

QSettings hostSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Zazizi"),
                     QStringLiteral("Canvaro"));
}

} // namespace

Canvaro *Canvaro::instance()
{
    static Canvaro host;
    // Read afresh each time: the host may run for the first time while we do.
    if (!hostSettings().contains(QLatin1String(RecentKey)))
        return nullptr;
    return &host;
}

QStringList Canvaro::mruList() const
{
    const QVariant value = hostSettings().value(QLatin1String(RecentKey));
    // A list of one entry is stored as a plain string.
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    return value.toStringList();
}

} // namespace Zazizi
