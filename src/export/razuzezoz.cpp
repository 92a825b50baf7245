#include "razuzezoz.h"

#include "diagnostics.h"
#include "filekey.h"
#include "grading.h"

#include <roruri1/plexa.h>
#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>
#include <new>

using Zazizi::InstructorPacedTest;
using Zazizi::Page;
using Zazizi::Plexa;
using Zazizi::Question;
using Zazizi::Response;
using Zazizi::SelfPacedTest;
using Zazizi::Test;

raZuzezoz::raZuzezoz() = default;

raZuzezoz::~raZuzezoz()
{
    delete plexa;
}

namespace {

// Times consecutive phases into the caller's slots; does nothing without a caller.
class PhaseClock
{
public:
    explicit PhaseClock(raZuzezoz::PhaseTimings *timings) : m_timings(timings)
    {
        if (m_timings) {
            *m_timings = raZuzezoz::PhaseTimings();
            m_clock.start();
        }
    }
    void lap(qint64 raZuzezoz::PhaseTimings::*phase)
    {
        if (m_timings) {
            m_timings->*phase = m_clock.nsecsElapsed();
            m_clock.start();
        }
    }

private:
    raZuzezoz::PhaseTimings *m_timings;
    QElapsedTimer m_clock;
};

} // namespace

bool raZuzezoz::exportPlexa(const QString &path, const QString &stem)
{
    // A document that needs more memory than the process can get must not end the program:
    // the teacher is told, the files not yet written keep what they held, and a batch goes on
    // with its next document.
    try {
        return runExport(path, stem);
    } catch (const std::bad_alloc &) {
        // The tables of a run that cannot finish are of no use, and hold the memory; the
        // records of the files stay, to tell which of them were written before.
        database.questions.clear();
        database.exportFiles.releaseUnwrittenStudents();
        questionPass = false;
        currentPage = -1;
        currentFile = nullptr;
        lastRun.outOfMemory = true;
        qWarning().noquote()
            << QStringLiteral("Not enough memory to export %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
}

bool raZuzezoz::runExport(const QString &path, const QString &stem)
{
    lastRun = RunReport();
    plexaPath = path;
    outputStem = stem;

    database.clear();
    database.documentFileName = QFileInfo(path).fileName();
    database.logLine(QStringLiteral("Importing file %1").arg(QDir::toNativeSeparators(path)));

    PhaseClock clock(timings);
    delete plexa;
    plexa = nullptr;
    plexa = Plexa::openPlexa(path, &lastRun.openFailure);
    clock.lap(&PhaseTimings::open);
    if (!plexa) {
        qWarning().noquote() << QStringLiteral("Cannot open Plexa document %1: %2")
                                    .arg(QDir::toNativeSeparators(path), lastRun.openFailure);
        database.logLine(QStringLiteral("FAILED to open plexa "));
        return false;
    }
    lastRun.opened = true;

    currentPage = -1;
    questionPass = true;
    lastRun.pagesComplete = dumpQuestions();
    questionPass = false;
    currentPage = -1;
    currentFile = nullptr;
    clock.lap(&PhaseTimings::pages);
    if (acceptExportFiles && !acceptExportFiles(database)) {
        lastRun.leftOut = true;
        return false;
    }

    lastRun.instancesComplete = dumpResponses();
    clock.lap(&PhaseTimings::instances);

    database.writeCsvFiles(folder);
    clock.lap(&PhaseTimings::write);
    lastRun.filesFailed = database.failedFiles;
    return lastRun.instancesComplete;
}

bool raZuzezoz::dumpQuestions()
{
    if (!plexa)
        return false;
    const int count = plexa->pageCount();
    // Pages belong to the caller; each is held until the next one has been fetched.
    std::unique_ptr<Page> page;
    for (int i = 0; i < count; ++i) {
        Page *next = plexa->pageAt(i);
        if (!next)
            return false;
        currentPage = i;
        page.reset(next);

        Test *test = page->test();
        if (!test)
            continue;

        if (diagnosticsEnabled())
            diagnostic(QStringLiteral("[ Dump Questions ] - Dumping questions on page (%1).")
                           .arg(QString::number(i + 1)));

        ExportFile &file = database.addExportFile(fileKeyForKeywords(page->keywords()), outputStem);
        file.addPage(i);
        currentFile = &file;

        dumpTest(test);
    }
    return true;
}

bool raZuzezoz::dumpResponses()
{
    if (!plexa)
        return false;
    const int count = plexa->testInstanceCount();
    for (int i = 0; i < count; ++i) {
        Test *instance = plexa->testInstanceAt(i);
        if (!instance)
            return false;
        if (diagnosticsEnabled())
            diagnostic(QStringLiteral("[ Dump Responses ] - Dumping test instance (%1).")
                           .arg(QString::number(i + 1)));
        dumpTest(instance);
    }
    return true;
}

void raZuzezoz::dumpTest(Test *test)
{
    if (!test)
        return;
    // The kind decides which class to expect; a test whose class disagrees is passed over.
    switch (test->kind()) {
    case 1:
        if (QObject *selfPaced = SelfPacedTest::staticMetaObject.cast(test))
            dumpSelfPacedTest(static_cast<SelfPacedTest *>(selfPaced));
        break;
    case 0:
        if (QObject *instructorPaced = InstructorPacedTest::staticMetaObject.cast(test))
            dumpInstructorPacedTest(static_cast<InstructorPacedTest *>(instructorPaced));
        break;
    default:
        break;
    }
}

namespace {

void walkQuestions(raZuzezoz &engine, Test *test)
{
    const int count = test->questionCount();
    for (int i = 0; i < count; ++i) {
        if (Question *question = test->questionAt(i))
            engine.dumpQuestion(question);
    }
}

} // namespace

void raZuzezoz::dumpSelfPacedTest(SelfPacedTest *test)
{
    if (diagnosticsEnabled())
        diagnostic(
            QStringLiteral(
                "[ Dump Responses ] - Found Self Paced Test with title (%1) started on (%2).")
                .arg(test->title(), test->startedOn()));
    walkQuestions(*this, test);
}

void raZuzezoz::dumpInstructorPacedTest(InstructorPacedTest *test)
{
    if (diagnosticsEnabled())
        diagnostic(
            QStringLiteral("[ Dump Responses ] - Found Instructor Paced Test started on (%1).")
                .arg(test->startedOn()));
    walkQuestions(*this, test);
}

namespace {

void responseLine(const QString &templ, const QString &text, Response *response)
{
    diagnostic(templ.arg(text, response->studentId(), response->studentName(), response->label()));
}

// The response branch of the question walk: grade every response and keep, per student, the
// verdict of the latest attempt. Everything that is the same for all responses of the
// question is worked out once, before the loop; a document may hold a million responses.
void collectResponses(raZuzezoz &engine, Question *question, const QString &id,
                      const QString &typeName)
{
    const bool verbose = diagnosticsEnabled();
    const bool tickBoxes = typeName == TypeNames::tickBoxes;
    const bool keepIdentity = engine.database.gradebook.needsIdentity();
    const qint64 entry = engine.database.questions.indexOf(id);
    ExportFile *file = entry >= 0 ? engine.database.questions.fileAt(quint32(entry)) : nullptr;

    const QuestionGrader grader(*question, typeName);

    const QString responseTemplate = QStringLiteral(
        "[ Dump Responses ] - Found response (%1) from user (%2) with id (%3) and device label "
        "(%4).");

    for (int j = 0; j < question->responseCount(); ++j) {
        Response *response = question->responseAt(j);
        if (!response)
            continue;

        const QString text = response->text();
        if (tickBoxes && text.isEmpty()) {
            if (verbose)
                responseLine(QStringLiteral("[ Dump Responses ] - Found EMPTY response (%1) from "
                                            "user (%2) with id (%3) and device label (%4)."),
                             text, response);
            continue;
        }

        if (!file) {
            engine.database.notice(QStringLiteral("error cannot find this question in database"),
                                   question->text());
            continue;
        }

        if (verbose)
            responseLine(responseTemplate, text, response);

        const QString key = engine.studentKey(response);
        // Only this response is lost: the students after it answered the question too.
        if (key.isEmpty()) {
            if (verbose)
                diagnostic(QStringLiteral("Cannot find a student key for this response"));
            continue;
        }

        StudentTable &students = file->editStudents();
        const quint32 student = students.findOrAdd(key);
        if (keepIdentity && !file->identityComplete(student))
            file->noteIdentity(student, response->studentId(), response->studentName(),
                               response->label());
        const int time = response->startTime();
        const bool correct = grader.grade(text);
        students.keepAttempt(student, quint32(entry), correct, time);
    }
}

} // namespace

void raZuzezoz::dumpQuestion(Question *question)
{
    if (diagnosticsEnabled())
        diagnostic(
            QStringLiteral("[ Dump Responses ] - Found Question of type (%1) with text (%2).")
                .arg(QString::number(question->type()), question->text()));

    const QString id = question->id();
    const QString typeName = questionTypeName(question);
    if (typeName == TypeNames::unsupported || !question->hasCorrectAnswer())
        return;

    if (!questionPass) {
        collectResponses(*this, question, id, typeName);
        return;
    }

    // The first page that holds an id keeps it, with that page's file.
    if (!database.questions.add(id, currentPage, currentFile)) {
        database.notice(QStringLiteral("error duplicate question?"), question->text());
        return;
    }
    ++currentFile->questionCount;
}

QString raZuzezoz::studentKey(Response *response) const
{
    QString key = response->studentId();
    if (!key.isEmpty())
        return key;
    key = response->studentName();
    if (!key.isEmpty())
        return key;
    return response->label();
}

namespace {

ExportTarget targetIn(const QString &folder, const QString &path)
{
    ExportTarget target;
    target.folder = folder;
    target.nativeFolder = QDir::toNativeSeparators(folder);
    // A document in the root folder must not get a stem starting with two slashes.
    const QString separator = folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    target.stem = folder + separator + QFileInfo(path).baseName();
    return target;
}

// The folder that an absolute path names as the system finds it. On Unix ".." leads to the
// parent of where the path has arrived so far, which after a link is not the folder before the
// link: "link/../quiz.plexa" is opened from the link target's parent, and its files belong
// there. The part up to the last ".." is therefore resolved on the disk; without "..", and
// where that part does not exist (nothing can be opened there), the path is cleaned as written.
// Windows resolves ".." by the text alone.
QString systemFolder(const QString &absolute)
{
#ifdef Q_OS_UNIX
    const QString parent = QStringLiteral("/..");
    qsizetype last = absolute.lastIndexOf(parent + QLatin1Char('/'));
    if (last < 0 && absolute.endsWith(parent))
        last = absolute.size() - parent.size();
    if (last >= 0) {
        const qsizetype end = last + parent.size();
        const QString resolved = QFileInfo(absolute.left(end)).canonicalFilePath();
        if (!resolved.isEmpty())
            return QDir::cleanPath(resolved + QLatin1Char('/') + absolute.mid(end));
    }
#endif
    return QDir::cleanPath(absolute);
}

// The path made absolute but not cleaned: QFileInfo would take "link/.." away by the text.
QString absoluteAsWritten(const QString &path)
{
    return QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
}

} // namespace

ExportTarget exportTargetFor(const QString &path)
{
    const QString absolute = absoluteAsWritten(QDir::fromNativeSeparators(path));
    return targetIn(systemFolder(absolute.left(absolute.lastIndexOf(QLatin1Char('/')) + 1)), path);
}

ExportTarget exportTargetFor(const QString &path, const QString &outputFolder)
{
    return targetIn(systemFolder(absoluteAsWritten(QDir::fromNativeSeparators(outputFolder))),
                    path);
}
