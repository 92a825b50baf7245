#pragma once

#include "keytable.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <unordered_map>
#include <vector>

struct ExportFile;

// The kept verdict of one student's latest attempt at one question.
struct AnswerState
{
    bool correct = false;
    int time = 0;
};

// One student within one export file, as the student table gives it out.
struct StudentRecord
{
    QString key;
    int correct = 0;
    // By question id.
    QHash<QString, AnswerState> answers;
};

// A catalogued gradable question and the export file its responses go to.
struct QuestionEntry
{
    QString id;
    int page = -1;
    ExportFile *file = nullptr;
};

// The question catalogue: question ids (exact, case-sensitive) to their page and export file.
// Questions are numbered in the order they were catalogued; the student tables file verdicts
// under these numbers.
class QuestionCatalogue
{
public:
    QuestionCatalogue() = default;
    QuestionCatalogue(const QuestionCatalogue &) = delete;
    QuestionCatalogue &operator=(const QuestionCatalogue &) = delete;

    // Catalogues a new id; false, with nothing changed, when the id is already there.
    bool add(const QString &id, int page, ExportFile *file);
    // Catalogues the id, or gives a catalogued one this page and file.
    void insert(const QString &id, const QuestionEntry &entry);

    qsizetype size() const { return m_ids.size(); }
    bool isEmpty() const { return size() == 0; }
    bool contains(const QString &id) const { return indexOf(id) >= 0; }
    // The question's number, or -1.
    qint64 indexOf(QStringView id) const { return m_ids.indexOf(id); }
    // A default entry for an id not catalogued.
    QuestionEntry value(const QString &id) const;
    QuestionEntry at(quint32 index) const;
    QStringView idAt(quint32 index) const { return m_ids.key(index); }
    ExportFile *fileAt(quint32 index) const { return m_files[m_places[index].file]; }
    // In catalogue order.
    QStringList keys() const;
    void clear();

private:
    // 8 bytes per question: the file by its number in m_files, which holds each file once.
    struct Place
    {
        quint32 file;
        qint32 page;
    };
    Place placeFor(ExportFile *file, int page);

    KeyTable m_ids;
    std::vector<ExportFile *> m_files;
    std::unordered_map<ExportFile *, quint32> m_fileNumbers;
    ChunkedArray<Place> m_places;
};

// The student table of one export file: student keys to each student's kept verdicts, by
// question number. Students are numbered, and iterated, in the order they first answered.
//
// A student's first verdict is kept in the student's own record, further ones in one table
// per file keyed by student and question: most students of a dense document answer once,
// and a realistic one spreads its answers over few students.
class StudentTable
{
public:
    // The catalogue whose question numbers the verdicts are filed under; it names the
    // questions of the records that value() and at() give out.
    explicit StudentTable(const QuestionCatalogue *questions = nullptr);
    StudentTable(StudentTable &&other) noexcept = default;
    StudentTable &operator=(StudentTable &&other) noexcept = default;

    // The student's number; a student not yet in the table gets a record without verdicts.
    // Throws std::bad_alloc with the table unchanged.
    quint32 findOrAdd(QStringView key);
    // Files one graded attempt. A student's first attempt at a question is always kept,
    // whatever its start time; a later one replaces it when it started at the same time or
    // later, so of two equal times the one filed later wins.
    void keepAttempt(quint32 student, quint32 question, bool correct, int time);
    // Sets every record's count of correct verdicts.
    void tallyCorrect();

    qsizetype size() const { return m_keys.size(); }
    bool isEmpty() const { return size() == 0; }
    bool contains(const QString &key) const { return m_keys.indexOf(key) >= 0; }
    // The student's number, or -1.
    qint64 indexOf(QStringView key) const { return m_keys.indexOf(key); }
    // A default record for a key not in the table.
    StudentRecord value(const QString &key) const;
    StudentRecord at(quint32 index) const;
    QStringView keyAt(quint32 index) const { return m_keys.key(index); }
    int correctAt(quint32 index) const { return m_records[index].correct; }
    // In table order.
    QStringList keys() const;
    void clear();

    class const_iterator
    {
    public:
        const_iterator(const StudentTable *table, quint32 index) : m_table(table), m_index(index) {}
        StudentRecord operator*() const { return m_table->at(m_index); }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        bool operator!=(const const_iterator &other) const { return m_index != other.m_index; }

    private:
        const StudentTable *m_table;
        quint32 m_index;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, quint32(size())); }

private:
    static constexpr quint32 noQuestion = 0x7FFFFFFFu;
    static constexpr quint32 correctBit = 0x80000000u;

    // 12 bytes per student. Anything more a caller may want per student (such as where the
    // first response came from) belongs in an array of its own beside this one, indexed the
    // same way and filled only when asked for, so that it costs nothing otherwise.
    struct Record
    {
        // The first verdict: question number (noQuestion: none yet) and correctBit.
        quint32 firstQuestion;
        qint32 firstTime;
        qint32 correct;
    };
    // A further verdict, found by student and question.
    struct Answer
    {
        quint32 student;
        // Question number and correctBit.
        quint32 question;
        qint32 time;
    };

    std::size_t pairHash(quint32 student, quint32 question) const;
    void keepFurther(quint32 student, quint32 question, bool correct, int time);
    void addAnswer(QHash<QString, AnswerState> &answers, quint32 question, bool correct,
                   int time) const;

    const QuestionCatalogue *m_questions;
    KeyTable m_keys;
    ChunkedArray<Record> m_records;
    ChunkedArray<Answer> m_answers;
    HashChains m_answerChains;
    std::size_t m_seed;
};
