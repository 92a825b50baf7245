#pragma once

#include <QObject>
#include <QString>

namespace Zazizi {

class Question;

// A test on a page, or one run of a test (a test instance). Owned by the document.
class Test : public QObject
{
    Q_OBJECT
public:
    explicit Test(QObject *parent = nullptr);
    ~Test() override;

    // 1 self-paced, 0 instructor-paced; any other value is kept as the document has it.
    virtual int kind() const;
    virtual QString startedOn() const;

    int questionCount() const;
    // Null for a `null` element of the document's question array, or an index out of range.
    Question *questionAt(int i) const;

private:
    friend class DocumentReader;

    int m_kind = 0;
    QString m_startedOn;
    Question *const *m_questions = nullptr;
    int m_questionCount = 0;
};

class SelfPacedTest : public Test
{
    Q_OBJECT
public:
    explicit SelfPacedTest(QObject *parent = nullptr);
    ~SelfPacedTest() override;

    QString title() const;

private:
    friend class DocumentReader;

    QString m_title;
};

class InstructorPacedTest : public Test
{
    Q_OBJECT
public:
    explicit InstructorPacedTest(QObject *parent = nullptr);
    ~InstructorPacedTest() override;
};

} // namespace Zazizi
