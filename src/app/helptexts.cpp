#include "helptexts.h"

QStringList startupGuide()
{
    return {
        QStringLiteral("To create your CSV file please select the File option on the menubar and "
                       "click the Export Plexa to CSV option."),
        QString(),
        // The trailing line feed leaves an empty line under this one.
        QStringLiteral("You can also click the folder icon in the toolbar which will take you "
                       "straight to the Export dialog.\n"),
        QStringLiteral("You will be presented with a dialog to choose the folder and a Plexa that "
                       "you wish to export."),
        QString(),
        QStringLiteral("The application will open this plexa and create a CSV file within the same "
                       "folder as the plexa file."),
        QStringLiteral("The CSV file will have the same name as the plexa but it's extension will "
                       "be csv ."),
        QString(),
        QStringLiteral("If you have another plexa that you wish to export just follow the same "
                       "instructions."),
        QString(),
        QStringLiteral("You can also click the icon with the picture of a clock on it. This allows "
                       "you to export the most recent Zazizi you have used within Canvaro."),
    };
}

QString usageText()
{
    QString text;
    text += QStringLiteral(
        "The exporter takes an existing Plexa and imports all the results held within it.\n");
    text += QStringLiteral(
        "It will compute a grade for every question that a student has answered correctly.\n");
    text += QStringLiteral("The results will be saved to a CSV file.\n");
    text += QStringLiteral("\n");
    text += QStringLiteral("To create your CSV file please select the File option & click the "
                           "Export Plexa to CSV option.\n");
    text += QStringLiteral("You can also click the folder icon in the toolbar which will take you "
                           "straight to the Export dialog.\n");
    text += QStringLiteral("You will be presented with a dialog to choose the folder and a Plexa "
                           "that you wish to export.\n");
    text += QStringLiteral("The application will open this plexa and create a CSV file within the "
                           "same folder as the plexa file.\n");
    text += QStringLiteral(
        "The CSV file will have the same name as the plexa but it's extension will be csv.\n");
    text += QStringLiteral(
        "If you have another plexa that you wish to export just follow the same instructions.\n");
    text += QStringLiteral("You can also click the icon with the picture of a clock on it. This "
                           "allows you to export the most recent Zazizi you have used within "
                           "Canvaro.");
    return text;
}

QString aboutText(const QString &version)
{
    return QStringLiteral("Plexa Exporter ") + version +
           QStringLiteral("\nCopyright Zentriq. Free software under the MIT licence.");
}

QString helpBoxTitle()
{
    return QStringLiteral("Plexa Exporter");
}
