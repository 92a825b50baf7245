#pragma once

#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <memory>

// How much memory an open document may cost, with the measured sizes behind each figure.
//
// The promise: exporting any document the reader accepts takes at most PeakPerFileByte times
// the file's size in peak resident memory, beyond the memory of an export of an empty document
// and PeakBeyond. It is made of the file itself (kept whole), the reader's structures, which
// the reader holds to its budget (refusing a document whose objects would cost more), and
// what an export builds from them.
namespace Zazizi::MemoryPolicy {

constexpr qint64 MB = qint64(1) << 20;

constexpr qint64 PeakPerFileByte = 4;
constexpr qint64 PeakBeyond = 5 * MB;

// What the reader's structures may cost, per byte of the file and beyond; the rest of the
// promise is for the file itself and the export.
constexpr std::size_t BudgetPerFileByte = 2;
constexpr std::size_t BudgetBeyond = std::size_t(4) << 20;
static_assert(1 + qint64(BudgetPerFileByte) < PeakPerFileByte,
              "the file and the reader's budget leave room for the export's tables");

// Before a file is read, the process must be able to get the whole promise and a little
// more for itself, or the document is refused at once rather than failing (or being killed)
// half-way through.
constexpr qint64 NeedPerFileByte = PeakPerFileByte;
constexpr qint64 NeedBeyond = 8 * MB;

// What the reader charges to its budget per object, beyond the plain tables it fills (a
// page, question slot or test instance costs its 4-byte entry, a question and a response
// their own size):
//
// A test object (a QObject) on the heap with Qt's private part of it and the allocator's
// overhead, measured at 192 bytes for objects of this size, and its place in the table of
// tests as that table grows.
constexpr std::size_t TestObjectBytes = 192;
static_assert(sizeof(SelfPacedTest) <= 64, "TestObjectBytes was measured for small tests");
constexpr std::size_t TestCost = TestObjectBytes + 2 * sizeof(std::unique_ptr<Test>);
// Lists are built when asked for; the largest of them, built once, is held to the budget
// too: per element a QString (or an option) in the list, per text its heap block of Qt's
// 16-byte header, the allocator's 16 bytes and 2 bytes a UTF-16 unit (at most one a byte).
constexpr std::size_t TextElementCost = sizeof(QString);
constexpr std::size_t OptionElementCost = sizeof(Question::Option);
constexpr std::size_t textCost(std::size_t bytes)
{
    return bytes ? 32 + 2 * bytes : 0;
}

// The table entries the figures above were measured with (docs/performance.md, "Memory").
static_assert(sizeof(Response) == 4, "a response costs one word");
static_assert(sizeof(Question) <= 28, "a question costs a few words");

// Bytes of memory this process can still get, or -1 where the platform does not tell: on
// Linux the least of MemAvailable, what RLIMIT_AS and RLIMIT_DATA leave, and what the
// memory.max of the process's cgroup (v2) and the groups above it leave.
qint64 availableMemory();

// Whether the process can get what opening and exporting a file of this size may need; if
// not, false with the reason.
[[nodiscard]] bool enoughMemoryFor(qint64 fileSize, QString &error);

} // namespace Zazizi::MemoryPolicy
