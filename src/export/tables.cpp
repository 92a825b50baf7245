#include "tables.h"

#include <QHashFunctions>

QuestionCatalogue::Place QuestionCatalogue::placeFor(ExportFile *file, int page)
{
    // The questions of a page, and mostly of a run, go to one file.
    if (!m_files.empty() && m_files.back() == file)
        return Place{quint32(m_files.size() - 1), page};
    const auto known = m_fileNumbers.find(file);
    if (known != m_fileNumbers.end())
        return Place{known->second, page};
    m_files.reserve(m_files.size() + 1);
    m_fileNumbers.emplace(file, quint32(m_files.size()));
    m_files.push_back(file);
    return Place{quint32(m_files.size() - 1), page};
}

bool QuestionCatalogue::add(const QString &id, int page, ExportFile *file)
{
    m_places.reserveOne();
    const Place place = placeFor(file, page);
    bool added = false;
    m_ids.findOrAdd(id, added);
    if (added)
        m_places.pushReserved(place);
    return added;
}

void QuestionCatalogue::insert(const QString &id, const QuestionEntry &entry)
{
    m_places.reserveOne();
    const Place place = placeFor(entry.file, entry.page);
    bool added = false;
    const quint32 index = m_ids.findOrAdd(id, added);
    if (added)
        m_places.pushReserved(place);
    else
        m_places[index] = place;
}

QuestionEntry QuestionCatalogue::value(const QString &id) const
{
    const qint64 index = indexOf(id);
    return index < 0 ? QuestionEntry() : at(quint32(index));
}

QuestionEntry QuestionCatalogue::at(quint32 index) const
{
    const Place &place = m_places[index];
    return QuestionEntry{idAt(index).toString(), place.page, m_files[place.file]};
}

QStringList QuestionCatalogue::keys() const
{
    QStringList ids;
    ids.reserve(size());
    for (quint32 i = 0; i < m_ids.size(); ++i)
        ids.append(idAt(i).toString());
    return ids;
}

void QuestionCatalogue::clear()
{
    m_ids.clear();
    m_places.clear();
    m_files.clear();
    m_fileNumbers.clear();
}

StudentTable::StudentTable(const QuestionCatalogue *questions)
    : m_questions(questions), m_seed(QHashSeed::globalSeed())
{
}

quint32 StudentTable::findOrAdd(QStringView key)
{
    m_records.reserveOne();
    bool added = false;
    const quint32 student = m_keys.findOrAdd(key, added);
    if (added)
        m_records.pushReserved(Record{noQuestion, 0, 0});
    return student;
}

std::size_t StudentTable::pairHash(quint32 student, quint32 question) const
{
    // The finaliser of MurmurHash3: every bit of both numbers reaches the low bits that
    // choose the bucket.
    quint64 h = ((quint64(student) << 32) | question) ^ quint64(m_seed);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return std::size_t(h);
}

void StudentTable::keepAttempt(quint32 student, quint32 question, bool correct, int time)
{
    Record &record = m_records[student];
    const quint32 first = record.firstQuestion & ~correctBit;
    if (first == noQuestion || (first == question && time >= record.firstTime)) {
        record.firstQuestion = question | (correct ? correctBit : 0);
        record.firstTime = time;
    } else if (first != question) {
        keepFurther(student, question, correct, time);
    }
}

void StudentTable::keepFurther(quint32 student, quint32 question, bool correct, int time)
{
    const std::size_t hash = pairHash(student, question);
    const quint32 flag = correct ? correctBit : 0;
    for (quint32 entry = m_answerChains.first(hash); entry != HashChains::end;
         entry = m_answerChains.next(entry)) {
        Answer &answer = m_answers[entry];
        if (answer.student == student && (answer.question & ~correctBit) == question) {
            if (time >= answer.time) {
                answer.question = question | flag;
                answer.time = time;
            }
            return;
        }
    }
    m_answers.reserveOne();
    m_answerChains.reserveOne();
    m_answers.pushReserved(Answer{student, question | flag, time});
    m_answerChains.linkReserved(hash, [this](quint32 entry) {
        const Answer &answer = m_answers[entry];
        return pairHash(answer.student, answer.question & ~correctBit);
    });
}

void StudentTable::tallyCorrect()
{
    // Counted afresh, so that a second write of the same tables gives the same grades.
    for (quint32 i = 0; i < m_records.size(); ++i) {
        Record &record = m_records[i];
        record.correct = (record.firstQuestion & correctBit) ? 1 : 0;
    }
    for (quint32 i = 0; i < m_answers.size(); ++i) {
        const Answer &answer = m_answers[i];
        if (answer.question & correctBit)
            ++m_records[answer.student].correct;
    }
}

void StudentTable::addAnswer(QHash<QString, AnswerState> &answers, quint32 question, bool correct,
                             int time) const
{
    if (m_questions && question < quint32(m_questions->size()))
        answers.insert(m_questions->idAt(question).toString(), AnswerState{correct, time});
}

StudentRecord StudentTable::value(const QString &key) const
{
    const qint64 index = m_keys.indexOf(key);
    return index < 0 ? StudentRecord() : at(quint32(index));
}

StudentRecord StudentTable::at(quint32 index) const
{
    StudentRecord student;
    student.key = keyAt(index).toString();
    const Record &record = m_records[index];
    student.correct = record.correct;
    const quint32 first = record.firstQuestion & ~correctBit;
    if (first == noQuestion)
        return student;
    addAnswer(student.answers, first, record.firstQuestion & correctBit, record.firstTime);
    // Only for a caller that looks at one record; the writer never materialises records.
    for (quint32 i = 0; i < m_answers.size(); ++i) {
        const Answer &answer = m_answers[i];
        if (answer.student == index)
            addAnswer(student.answers, answer.question & ~correctBit, answer.question & correctBit,
                      answer.time);
    }
    return student;
}

QStringList StudentTable::keys() const
{
    QStringList keys;
    keys.reserve(size());
    for (quint32 i = 0; i < m_keys.size(); ++i)
        keys.append(keyAt(i).toString());
    return keys;
}

void StudentTable::clear()
{
    m_keys.clear();
    m_records.clear();
    m_answers.clear();
    m_answerChains.clear();
}
