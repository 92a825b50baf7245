#include "razuzezoz.h"

#include "diagnostics.h"
#include "filekey.h"
#include "grading.h"

#include <plexa.h>
#include <question.h>
#include <response.h>
#include <test.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>

#include <memory>
#include <vector>

using Zazizi::InstructorPacedTest;
using Zazizi::Page;
using Zazizi::Plexa;
using Zazizi::Question;
using Zazizi::Response;
using Zazizi::SelfPacedTest;
using Zazizi::Test;

// A student's verdict on every question of one export file sits in one row of cells, one cell
// per catalogued question of the file: while the pass runs, a response then costs one look-up
// of its student instead of two, and each student's answer table is filled once at the end.
struct raZuzezoz::PendingAnswers
{
    struct Cell
    {
        int time = 0;
        bool correct = false;
        bool set = false;
    };
    struct Student
    {
        QString key;
        // Offset of the student's row in `cells`; -1 for a student filed straight into the
        // student table, when a row would have cost too much memory.
        qsizetype row = -1;
    };
    struct File
    {
        // The catalogued questions of the file, by slot.
        QStringList ids;
        // The file's students in the order first met, which is the order in which they are
        // entered into its student table, as if entered while met.
        std::vector<Student> students;
        QHash<QString, qsizetype> studentIndex;
    };

    explicit PendingAnswers(const exportDatabase &database)
    {
        for (auto entry = database.questions.cbegin(); entry != database.questions.cend();
             ++entry) {
            if (!entry->file)
                continue;
            File &file = files[entry->file];
            slotOfQuestion.insert(entry.key(), int(file.ids.size()));
            file.ids.append(entry->id);
        }
    }

    // Rows take memory in proportion to the responses read, whatever the numbers of students
    // and questions; a student past that stays with the student table itself.
    bool roomForRow(qsizetype width) const
    {
        return qsizetype(cells.size()) + width <= 2 * responses + 65536;
    }

    QHash<ExportFile *, File> files;
    QHash<QString, int> slotOfQuestion;
    std::vector<Cell> cells;
    qsizetype responses = 0;
};

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
    lastRun = RunReport();
    plexaPath = path;
    outputStem = stem;

    database.clear();
    database.logLine(QStringLiteral("Importing file %1").arg(QDir::toNativeSeparators(path)));

    PhaseClock clock(timings);
    delete plexa;
    plexa = Plexa::openPlexa(path);
    clock.lap(&PhaseTimings::open);
    if (!plexa) {
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

    const bool instancesComplete = dumpResponses();
    lastRun.instancesComplete = instancesComplete;
    clock.lap(&PhaseTimings::instances);

    database.writeCsvFiles(folder);
    clock.lap(&PhaseTimings::write);
    lastRun.filesFailed = database.failedFiles;
    return instancesComplete;
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

        const QString key = fileKeyForKeywords(page->keywords());
        auto found = database.exportFiles.find(key);
        ExportFile &file = found != database.exportFiles.end()
                               ? found->second
                               : database.addExportFile(key, outputStem);
        file.pages.append(i);
        currentFile = &file;

        dumpTest(test);
    }
    return true;
}

bool raZuzezoz::dumpResponses()
{
    if (!plexa)
        return false;
    m_pending = std::make_unique<PendingAnswers>(database);
    bool complete = true;
    const int count = plexa->testInstanceCount();
    for (int i = 0; i < count; ++i) {
        Test *instance = plexa->testInstanceAt(i);
        if (!instance) {
            complete = false;
            break;
        }
        if (diagnosticsEnabled())
            diagnostic(QStringLiteral("[ Dump Responses ] - Dumping test instance (%1).")
                           .arg(QString::number(i + 1)));
        dumpTest(instance);
    }
    filePendingAnswers();
    return complete;
}

void raZuzezoz::filePendingAnswers()
{
    if (!m_pending)
        return;
    const std::unique_ptr<PendingAnswers> pending = std::move(m_pending);
    for (auto file = pending->files.cbegin(); file != pending->files.cend(); ++file) {
        auto &students = file.key()->students;
        const QStringList &ids = file->ids;
        for (const PendingAnswers::Student &pendingStudent : file->students) {
            if (pendingStudent.row < 0)
                continue;
            const qsizetype studentCount = students.size();
            StudentRecord &student = students[pendingStudent.key];
            if (students.size() != studentCount)
                student.key = pendingStudent.key;
            const PendingAnswers::Cell *row = pending->cells.data() + pendingStudent.row;
            qsizetype answered = 0;
            for (qsizetype slot = 0; slot < ids.size(); ++slot)
                answered += row[slot].set ? 1 : 0;
            student.answers.reserve(student.answers.size() + answered);
            for (qsizetype slot = 0; slot < ids.size(); ++slot) {
                const PendingAnswers::Cell &cell = row[slot];
                if (!cell.set)
                    continue;
                // The row holds the latest attempt of this pass; an earlier pass's verdict
                // gives way to it on an equal start time, as a later attempt does.
                const qsizetype answerCount = student.answers.size();
                AnswerState &state = student.answers[ids.at(slot)];
                if (student.answers.size() != answerCount || cell.time >= state.time) {
                    state.correct = cell.correct;
                    state.time = cell.time;
                }
            }
        }
    }
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

} // namespace

// The response branch of the question walk: grade every response and keep, per student, the
// verdict of the latest attempt. Everything that is the same for all responses of the
// question is worked out once, before the loop; a document may hold a million responses.
void raZuzezoz::collectResponses(Question *question, const QString &id, const QString &typeName)
{
    const bool verbose = diagnosticsEnabled();
    const bool tickBoxes = typeName == QLatin1String("Tick boxes");
    const auto entry = database.questions.constFind(id);
    ExportFile *file = nullptr;
    // The catalogue's copy of the id: every student's answer table then shares its text, and
    // comparing keys seldom has to read it.
    QString answerKey;
    if (entry != database.questions.constEnd()) {
        file = entry->file;
        answerKey = entry->id;
    }
    // Rows are used only inside the test-instance pass, which files them when it ends.
    PendingAnswers::File *pendingFile = nullptr;
    int slot = -1;
    if (m_pending && file) {
        const auto found = m_pending->files.find(file);
        slot = m_pending->slotOfQuestion.value(id, -1);
        if (found != m_pending->files.end() && slot >= 0 && slot < found->ids.size())
            pendingFile = &*found;
    }

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
            database.notice(QStringLiteral("error cannot find this question in database"),
                            question->text());
            continue;
        }

        if (verbose)
            responseLine(responseTemplate, text, response);

        const QString key = studentKey(response);
        // Only this response is lost: the students after it answered the question too.
        if (key.isEmpty()) {
            if (verbose)
                diagnostic(QStringLiteral("Cannot find a student key for this response"));
            continue;
        }

        const int time = response->startTime();
        const bool correct = grader.grade(text);

        // A student's first attempt is always kept, whatever its start time; a later attempt
        // replaces it on an equal start time too, so of two equal times the one walked later
        // wins.
        if (pendingFile) {
            ++m_pending->responses;
            const qsizetype known = qsizetype(pendingFile->students.size());
            auto index = pendingFile->studentIndex.constFind(key);
            if (index == pendingFile->studentIndex.constEnd()) {
                index = pendingFile->studentIndex.insert(key, known);
                PendingAnswers::Student student{key, -1};
                const qsizetype width = pendingFile->ids.size();
                if (m_pending->roomForRow(width)) {
                    student.row = qsizetype(m_pending->cells.size());
                    m_pending->cells.resize(m_pending->cells.size() + std::size_t(width));
                } else {
                    file->students[key].key = key;
                }
                pendingFile->students.push_back(std::move(student));
            }
            const qsizetype row = pendingFile->students[std::size_t(*index)].row;
            if (row >= 0) {
                PendingAnswers::Cell &cell = m_pending->cells[std::size_t(row + slot)];
                if (!cell.set || time >= cell.time)
                    cell = PendingAnswers::Cell{time, correct, true};
                continue;
            }
        }

        const qsizetype studentCount = file->students.size();
        StudentRecord &student = file->students[key];
        if (file->students.size() != studentCount)
            student.key = key;

        const qsizetype answerCount = student.answers.size();
        AnswerState &state = student.answers[answerKey];
        if (student.answers.size() != answerCount || time >= state.time) {
            state.correct = correct;
            state.time = time;
        }
    }
}

void raZuzezoz::dumpQuestion(Question *question)
{
    if (diagnosticsEnabled())
        diagnostic(
            QStringLiteral("[ Dump Responses ] - Found Question of type (%1) with text (%2).")
                .arg(QString::number(question->type()), question->text()));

    const QString id = question->id();
    const QString typeName = questionTypeName(question);
    if (typeName == QLatin1String("unsupported") || !question->hasCorrectAnswer())
        return;

    if (!questionPass) {
        collectResponses(question, id, typeName);
        return;
    }

    // The first page that holds an id keeps it, with that page's file.
    if (database.questions.contains(id)) {
        database.notice(QStringLiteral("error duplicate question?"), question->text());
        return;
    }
    database.questions.insert(id, QuestionEntry{id, currentPage, currentFile});
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

} // namespace

ExportTarget exportTargetFor(const QString &path)
{
    return targetIn(QDir::cleanPath(QFileInfo(path).absolutePath()), path);
}

ExportTarget exportTargetFor(const QString &path, const QString &outputFolder)
{
    return targetIn(QDir::cleanPath(QFileInfo(outputFolder).absoluteFilePath()), path);
}
