#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

namespace Zazizi {

class DocumentStore;
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
    friend class SelfPacedTest;

    const DocumentStore *m_store = nullptr;
    int m_kind = 0;
    // Offset of the text in the document's buffer; 0: absent.
    std::uint32_t m_startedOn = 0;
    // A run of the document's question table, or of its slot table when the array holds
    // `null` elements.
    std::uint32_t m_firstQuestion = 0;
    int m_questionCount = 0;
    bool m_slotted = false;
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

    std::uint32_t m_title = 0;
};

class InstructorPacedTest : public Test
{
    Q_OBJECT
public:
    explicit InstructorPacedTest(QObject *parent = nullptr);
    ~InstructorPacedTest() override;
};

} // namespace Zazizi
