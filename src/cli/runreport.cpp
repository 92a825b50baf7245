#include "runreport.h"

#include "razuzezoz.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

void RunReport::addRun(const QString &document, const raZuzezoz &engine)
{
    Document entry;
    entry.path = QDir::toNativeSeparators(document);
    const raZuzezoz::RunReport &run = engine.lastRun;
    entry.opened = run.opened;
    if (!run.opened)
        entry.reason = run.openFailure;
    else if (run.leftOut)
        entry.reason = QStringLiteral("a CSV file would replace one written earlier in this call");
    else if (run.outOfMemory)
        entry.reason = QStringLiteral("not enough memory");
    entry.leftOut = run.leftOut;
    entry.pagesComplete = run.pagesComplete;
    entry.instancesComplete = run.instancesComplete;
    entry.complete = run.complete();
    // The tables of a run that was left out or never opened describe nothing written.
    if (run.opened && !run.leftOut) {
        for (const auto &item : engine.database.exportFiles) {
            const ExportFile &file = item.second;
            CsvFile csv;
            csv.path = QDir::toNativeSeparators(file.filePath);
            csv.written = file.written;
            csv.students = file.rowsWritten;
            csv.questions = file.questionCount;
            entry.files << csv;
        }
    }
    m_documents << entry;
}

QString RunReport::write(const QString &file, int exitStatus) const
{
    QJsonArray documents;
    for (const Document &document : m_documents) {
        QJsonObject object{{QStringLiteral("path"), document.path},
                           {QStringLiteral("opened"), document.opened}};
        if (!document.reason.isEmpty())
            object.insert(QStringLiteral("reason"), document.reason);
        object.insert(QStringLiteral("leftOut"), document.leftOut);
        object.insert(QStringLiteral("pagesComplete"), document.pagesComplete);
        object.insert(QStringLiteral("instancesComplete"), document.instancesComplete);
        object.insert(QStringLiteral("complete"), document.complete);
        QJsonArray files;
        for (const CsvFile &csv : document.files) {
            files.append(QJsonObject{{QStringLiteral("path"), csv.path},
                                     {QStringLiteral("written"), csv.written},
                                     {QStringLiteral("students"), double(csv.students)},
                                     {QStringLiteral("questions"), csv.questions}});
        }
        object.insert(QStringLiteral("files"), files);
        documents.append(object);
    }
    const QJsonObject root{{QStringLiteral("documents"), documents},
                           {QStringLiteral("exitStatus"), exitStatus}};

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    out.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!out.commit())
        return out.errorString();
    return QString();
}
