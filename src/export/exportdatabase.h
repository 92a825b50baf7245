#pragma once

#include "gradebook.h"
#include "keytable.h"
#include "tables.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class ExportFiles;
class LogSink;
class NoticeSink;

// One grade-book CSV file to write. A document may route every page to a file of its own, so a
// record keeps only what differs per file: its key, stem and pages are held by the run's table
// of files, and its students only once a response reaches it.
struct ExportFile
{
    ExportFile(ExportFiles *table, quint32 index, quint32 stem);
    ~ExportFile();
    ExportFile(const ExportFile &) = delete;
    ExportFile &operator=(const ExportFile &) = delete;

    QString key() const;
    // The output stem the file was created with: a folder, "/" and the document's base name.
    QString stem() const;
    // The stem, then "_" and the key for a keyword file, then ".csv".
    QString filePath() const;
    // The file's name up to its first dot, without folder.
    QString baseName() const;
    // The pages routed to the file, in page order.
    QList<int> pages() const;
    void addPage(int page);

    int questionCount = 0;

    // The students of the file; empty until the first one is added through editStudents().
    const StudentTable &students() const;
    StudentTable &editStudents();

    // Who the student is: each of the id, name and device label from the first of the
    // student's responses that has it. Kept only when the files' layout asks for it, and
    // then noted for every response until all three are known.
    bool identityComplete(quint32 student) const;
    void noteIdentity(quint32 student, const QString &id, const QString &name,
                      const QString &label);
    Gradebook::Identity identity(quint32 student) const;

    // The latest writeCsvFiles: whether the new file stands at its path, whether its folder
    // was flushed after it so that it survives a power cut, the system's error number when
    // either failed, and the rows written (student numbers are 31-bit).
    bool written = false;
    bool synced = false;
    int error = 0;
    int rowsWritten = 0;
    // The students left out for want of a student id, in the order they first answered, by
    // their names, else device labels.
    qsizetype withoutIdCount() const;
    void forEachWithoutId(const std::function<void(const QString &name)> &visit) const;
    QStringList withoutId() const;
    void leaveOut(quint32 student);
    void clearLeftOut();

private:
    friend class ExportFiles;

    struct Students;

    ExportFiles *m_table;
    std::unique_ptr<Students> m_students;
    quint32 m_index;
    quint32 m_stem;
};

// The export files of one run, by file key. Records never move once created (the page pass
// and every catalogue entry point at them) and are iterated in key order. Each key is stored
// once, in a key table, so a file costs a few dozen bytes besides its students.
class ExportFiles
{
public:
    explicit ExportFiles(const QuestionCatalogue *questions) : m_questions(questions) {}
    ExportFiles(const ExportFiles &) = delete;
    ExportFiles &operator=(const ExportFiles &) = delete;

    // The record of `key`, created with its path from `stem` when the key is new.
    ExportFile &add(const QString &key, const QString &stem);
    ExportFile *find(QStringView key);
    const ExportFile *find(QStringView key) const;
    std::size_t size() const { return m_files.size(); }
    bool empty() const { return m_files.empty(); }
    void clear();
    // Frees the students of the files that were not written: a run given up for want of
    // memory keeps only what describes the files it did write.
    void releaseUnwrittenStudents() noexcept;

    template <typename File, typename Files>
    class Iterator
    {
    public:
        Iterator(Files *files, const std::vector<quint32> *order, std::size_t at)
            : m_files(files), m_order(order), m_at(at)
        {
        }
        File &operator*() const { return (*m_files)[(*m_order)[m_at]]; }
        File *operator->() const { return &**this; }
        Iterator &operator++()
        {
            ++m_at;
            return *this;
        }
        bool operator!=(const Iterator &other) const { return m_at != other.m_at; }
        bool operator==(const Iterator &other) const { return m_at == other.m_at; }

    private:
        Files *m_files;
        const std::vector<quint32> *m_order;
        std::size_t m_at;
    };
    using iterator = Iterator<ExportFile, std::deque<ExportFile>>;
    using const_iterator = Iterator<const ExportFile, const std::deque<ExportFile>>;
    // Sorting the keys on the first call after files were added may throw std::bad_alloc.
    iterator begin() { return iterator(&m_files, &inKeyOrder(), 0); }
    iterator end() { return iterator(&m_files, &m_order, m_files.size()); }
    const_iterator begin() const { return const_iterator(&m_files, &inKeyOrder(), 0); }
    const_iterator end() const { return const_iterator(&m_files, &m_order, m_files.size()); }

private:
    friend struct ExportFile;

    const std::vector<quint32> &inKeyOrder() const;

    const QuestionCatalogue *m_questions;
    KeyTable m_keys;
    // Index i holds the file of key i.
    std::deque<ExportFile> m_files;
    QStringList m_stems;
    // Each page routed to a file, in page order.
    struct PagePlace
    {
        qint32 page;
        quint32 file;
    };
    ChunkedArray<PagePlace> m_pages;
    mutable std::vector<quint32> m_order;
};

// The tables of one export run, and the user-facing output seams.
class exportDatabase
{
public:
    exportDatabase() : exportFiles(&questions) {}

    QuestionCatalogue questions;
    ExportFiles exportFiles;
    // The files' layout and what goes with it; the default writes the plain files.
    Gradebook::Options gradebook;
    // The document's file name, which names a layout's grade column when its base name is
    // empty (".quiz.plexa").
    QString documentFileName;
    LogSink *log = nullptr;
    NoticeSink *notices = nullptr;

    void clear();
    ExportFile &addExportFile(const QString &key, const QString &stem);
    void writeCsvFiles(const QString &folder);
    void tallyCorrect();

    void logLine(const QString &line);
    void logEmptyLine();
    void notice(const QString &title, const QString &text);

    // Number of export files that could not be written in the latest writeCsvFiles call.
    int failedFiles = 0;
};
