#include "childprocess.h"
#include "enginesupport.h"
#include "rfc4180.h"

#include "memorypolicy_p.h"

#include <roruri1/plexa.h>
#include <roruri1/question.h>
#include <roruri1/response.h>
#include <roruri1/test.h>

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

// Documents from other machines, USB sticks and mail: whatever their bytes, the reader
// refuses them with one reason and the run logs its failure, without crashing, hanging or
// holding more memory than a small multiple of the file.

namespace {

// A document as a few pieces, each repeated: big inputs stay a one-line row.
struct Piece
{
    QByteArray bytes;
    int times = 1;
};
using Recipe = QList<Piece>;

QByteArray build(const Recipe &recipe)
{
    qsizetype size = 0;
    for (const Piece &piece : recipe)
        size += piece.bytes.size() * piece.times;
    QByteArray bytes;
    bytes.reserve(size);
    for (const Piece &piece : recipe) {
        for (int i = 0; i < piece.times; ++i)
            bytes += piece.bytes;
    }
    return bytes;
}

Recipe once(const QByteArray &bytes)
{
    return {Piece{bytes, 1}};
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

bool underValgrind()
{
    return qEnvironmentVariableIsSet("SCORLET_UNDER_VALGRIND");
}

constexpr int Mb = 1024 * 1024;

// The reader refused `document` with one warning that names it and gives `reason`.
void checkReaderRefuses(const QString &document, const QString &reason)
{
    WarningCapture warnings;
    std::unique_ptr<Zazizi::Plexa> plexa(Zazizi::Plexa::openPlexa(document));
    QVERIFY(!plexa);
    QCOMPARE(warnings.lines().size(), 1);
    const QString warning = warnings.lines().first();
    QVERIFY2(warning.startsWith(QStringLiteral("Cannot open Plexa document ") + native(document) +
                                QStringLiteral(": ")),
             qPrintable(warning));
    QVERIFY2(warning.contains(reason), qPrintable(warning));
}

// The whole program refused `document`: the two failure lines, exit status 1 and one reason
// on standard error.
void checkRefusedRun(const ChildOutcome &outcome, const QString &document, const QString &reason)
{
    QVERIFY(!outcome.timedOut);
    QCOMPARE(outcome.signal, 0);
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.outLines(), QStringList({QStringLiteral("Importing file ") + native(document),
                                              QStringLiteral("FAILED to open plexa ")}));
    const QStringList errors = outcome.errLines();
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains(reason), qPrintable(errors.first()));
}

// The most memory a byte of the file may cost, and beyond, as the library promises. What the
// bound rules out is a copy per level, per element or per byte.
constexpr long PeakPerFileByte = long(Zazizi::MemoryPolicy::PeakPerFileByte);
constexpr long PeakBeyondKb = long(Zazizi::MemoryPolicy::PeakBeyond / 1024);

} // namespace

Q_DECLARE_METATYPE(Recipe)

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void readerRefuses_data();
    void readerRefuses();
    void runRefuses_data();
    void runRefuses();

    void placeRefused_data();
    void placeRefused();

    void bigDocumentsOpen_data();
    void bigDocumentsOpen();

    void hostileText_data();
    void hostileText();

    void regressionInputs_data();
    void regressionInputs();

private:
    QString peakExcess(const ChildOutcome &outcome, qsizetype fileSize) const;

    // Peak memory of scorlet-export on a tiny document: what every bound starts from.
    long m_baselineKb = 0;
};

// Empty when the run's peak memory stays within a small multiple of the file's size, else
// what it was against what it may be.
QString TestHostile::peakExcess(const ChildOutcome &outcome, qsizetype fileSize) const
{
    const long sizeKb = long(fileSize / 1024);
    const long boundKb = m_baselineKb + PeakPerFileByte * sizeKb + PeakBeyondKb;
    if (outcome.peakKb <= boundKb)
        return QString();
    return QStringLiteral("peak %1 KB for a %2 KB file, bound %3 KB (baseline %4 KB)")
        .arg(outcome.peakKb)
        .arg(sizeKb)
        .arg(boundKb)
        .arg(m_baselineKb);
}

void TestHostile::initTestCase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString document = dir.filePath(QStringLiteral("tiny.plexa"));
    QVERIFY(writeFile(document, "{\"plexa\":1}"));
    const ChildOutcome outcome = runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document});
    QCOMPARE(outcome.exitCode, 0);
    m_baselineKb = outcome.peakKb;
    QVERIFY(m_baselineKb > 0);
}

void TestHostile::readerRefuses_data()
{
    QTest::addColumn<Recipe>("content");
    QTest::addColumn<QString>("reason");

    const QByteArray head = "{\"plexa\":1,";
    const QByteArray question = "{\"id\":\"q\",\"type\":6,\"answers\":[\"1\"]";

    QTest::newRow("empty file") << Recipe{} << "empty file";
    QTest::newRow("only white space") << once(" \r\n\t ") << "unexpected end of data";
    QTest::newRow("byte-order mark")
        << once("\xEF\xBB\xBF{\"plexa\":1}") << "byte-order mark before the text";
    QTest::newRow("UTF-16 text") << once(QByteArray("\xFF\xFE{\0\"\0", 6))
                                 << "invalid UTF-8 at byte 0";
    QTest::newRow("NUL byte in a string")
        << once(QByteArray("{\"plexa\":1,\"title\":\"a\0b\"}", 25))
        << "invalid JSON at byte 21: control character in string";
    QTest::newRow("NUL byte after the document")
        << once(QByteArray("{\"plexa\":1}\0", 12)) << "unexpected data after the root value";
    QTest::newRow("NUL byte before the document")
        << once(QByteArray("\0{\"plexa\":1}", 12)) << "invalid JSON at byte 0";
    QTest::newRow("raw line break in a string")
        << once("{\"plexa\":1,\"title\":\"a\nb\"}") << "control character in string";
    QTest::newRow("invalid UTF-8 byte")
        << once("{\"plexa\":1,\"title\":\"\xFF\"}") << "invalid UTF-8 at byte 20";
    QTest::newRow("Latin-1 text") << once("{\"plexa\":1,\"title\":\"caf\xE9\"}")
                                  << "invalid UTF-8 at byte 23";
    QTest::newRow("overlong UTF-8")
        << once("{\"plexa\":1,\"title\":\"\xC0\xAF\"}") << "invalid UTF-8 at byte 20";
    QTest::newRow("surrogate in UTF-8")
        << once("{\"plexa\":1,\"title\":\"\xED\xA0\x80\"}") << "invalid UTF-8 at byte 20";
    QTest::newRow("code point above U+10FFFF")
        << once("{\"plexa\":1,\"title\":\"\xF4\x90\x80\x80\"}") << "invalid UTF-8 at byte 20";
    QTest::newRow("UTF-8 cut at the end")
        << once("{\"plexa\":1,\"title\":\"\xE2\x82") << "invalid UTF-8 at byte 20";
    QTest::newRow("invalid UTF-8 in a member name")
        << once("{\"plexa\":1,\"ti\xFFtle\":1}") << "invalid UTF-8 at byte 14";
    QTest::newRow("invalid UTF-8 outside strings")
        << once("{\"plexa\":1}\xC3\xA9") << "invalid JSON at byte 11";
    QTest::newRow("invalid escape")
        << once("{\"plexa\":1,\"title\":\"\\x41\"}") << "invalid escape";
    QTest::newRow("escape cut short")
        << once("{\"plexa\":1,\"title\":\"\\u12\"}") << "invalid escape";
    QTest::newRow("single quotes") << once("{'plexa':1}") << "expected a member name";
    QTest::newRow("comment") << once("{\"plexa\":1 // lesson\n}") << "expected ',' or '}'";
    QTest::newRow("trailing comma") << once("{\"plexa\":1,}") << "expected a member name";
    QTest::newRow("two documents")
        << once("{\"plexa\":1}{\"plexa\":1}") << "unexpected data after the root value";
    QTest::newRow("cut in the middle")
        << once("{\"plexa\":1,\"pages\":[{\"test\":{\"kind\":1") << "unexpected end of data";
    QTest::newRow("root is an array") << once("[{\"plexa\":1}]") << "root: expected an object";
    QTest::newRow("root is a string") << once("\"plexa\"") << "root: expected an object";
    QTest::newRow("version missing") << once("{\"title\":\"x\"}") << "plexa: missing";
    QTest::newRow("version 2") << once("{\"plexa\":2}") << "plexa: expected 1";
    QTest::newRow("version 1.0") << once("{\"plexa\":1.0}") << "plexa: expected 1";
    QTest::newRow("version as text") << once("{\"plexa\":\"1\"}") << "plexa: expected 1";
    QTest::newRow("duplicate member at the root")
        << once("{\"plexa\":1,\"plexa\":1}") << "plexa: duplicate member";
    QTest::newRow("duplicate member in a response")
        << once(head + "\"testInstances\":[{\"kind\":1,\"questions\":[" + question +
                ",\"responses\":[{\"studentId\":\"a\",\"studentId\":\"b\"}]}]}]}")
        << "testInstances[0].questions[0].responses[0].studentId: duplicate member";
    QTest::newRow("integer just above 32 bits")
        << once(head + "\"pages\":[{\"test\":{\"kind\":2147483648}}]}")
        << "pages[0].test.kind: integer does not fit in 32 bits";
    QTest::newRow("integer just below 32 bits")
        << once(head + "\"testInstances\":[{\"kind\":1,\"questions\":[" + question +
                ",\"responses\":[{\"startTime\":-2147483649}]}]}]}")
        << "testInstances[0].questions[0].responses[0].startTime: integer does not fit";
    QTest::newRow("integer of 400 digits")
        << Recipe{{head + "\"pages\":[{\"test\":{\"kind\":1", 1}, {"0", 400}, {"}}]}", 1}}
        << "pages[0].test.kind: integer does not fit in 32 bits";
    QTest::newRow("fraction for an integer")
        << once(head + "\"pages\":[{\"test\":{\"kind\":1,\"questions\":[{\"id\":\"q\","
                       "\"type\":6.5}]}}]}")
        << "pages[0].test.questions[0].type: expected an integer";
    QTest::newRow("whole fraction for an integer")
        << once(head + "\"pages\":[{\"test\":{\"kind\":1.0}}]}")
        << "pages[0].test.kind: expected an integer";
    QTest::newRow("exponent for an integer")
        << once(head + "\"pages\":[{\"test\":{\"kind\":1e0}}]}")
        << "pages[0].test.kind: expected an integer";
    QTest::newRow("text for an integer") << once(head + "\"pages\":[{\"test\":{\"kind\":\"1\"}}]}")
                                         << "pages[0].test.kind: expected an integer";
    QTest::newRow("number beyond double")
        << once(head + "\"pages\":[{\"test\":{\"kind\":1,\"questions\":[" + question +
                ",\"tolerance\":1e999}]}}]}")
        << "pages[0].test.questions[0].tolerance: number out of range";
    QTest::newRow("not a number") << once(head + "\"pages\":[{\"test\":{\"kind\":NaN}}]}")
                                  << "expected a value";
    QTest::newRow("leading zero") << once(head + "\"x\":01}") << "expected ',' or '}'";
    QTest::newRow("plus sign") << once(head + "\"x\":+1}") << "expected a value";
    QTest::newRow("unknown test class")
        << once(head + "\"pages\":[{\"test\":{\"kind\":1,\"class\":\"Quiz\"}}]}")
        << "pages[0].test.class: expected";

    QTest::newRow("100000 nested arrays")
        << Recipe{{head + "\"x\":", 1}, {"[", 100000}, {"]", 100000}, {"}", 1}}
        << "nesting too deep";
    QTest::newRow("100000 nested objects")
        << Recipe{{head + "\"x\":", 1}, {"{\"a\":", 100000}, {"1", 1}, {"}", 100001}}
        << "nesting too deep";
    QTest::newRow("100000 open arrays, never closed")
        << Recipe{{head + "\"x\":", 1}, {"[", 100000}} << "nesting too deep";

    QTest::newRow("10 MB string, never closed")
        << Recipe{{head + "\"title\":\"", 1}, {QByteArray(Mb, 'x'), 10}} << "unterminated string";
    QTest::newRow("10 MB string, then garbage")
        << Recipe{{head + "\"title\":\"", 1}, {QByteArray(Mb, 'x'), 10}, {"\"}}", 1}}
        << "unexpected data after the root value";
    QTest::newRow("10 MB of escapes, one broken")
        << Recipe{{head + "\"title\":\"", 1}, {"\\u00e9\\n", Mb + Mb / 4}, {"\\q\"}", 1}}
        << "invalid escape";
    QTest::newRow("a million null pages, never closed")
        << Recipe{{head + "\"pages\":[null", 1}, {",null", 1000000}} << "unexpected end of data";
    QTest::newRow("a million numbers in an unknown member, never closed")
        << Recipe{{head + "\"x\":[0", 1}, {",0", 1000000}} << "unexpected end of data";
    QTest::newRow("a million responses, the last broken")
        << Recipe{{head + "\"testInstances\":[{\"kind\":1,\"questions\":[" + question +
                       ",\"responses\":[{}",
                   1},
                  {",{\"text\":\"1\",\"studentId\":\"s\"}", 1000000},
                  {",{\"text\":1}]}]}]}", 1}}
        << "responses[1000001].text: expected a string";
    QTest::newRow("a million empty pages, the last broken")
        << Recipe{{head + "\"pages\":[{}", 1}, {",{}", 1000000}, {",{\"test\":1}]}", 1}}
        << "pages[1000001].test: expected an object";
    QTest::newRow("15000 test instances, the last broken")
        << Recipe{{head + "\"testInstances\":[{\"kind\":5}", 1},
                  {",{\"kind\":5}", 15000},
                  {",{}]}", 1}}
        << "testInstances[15001].kind: missing";
    // Each is a test object of its own, which costs far more than its JSON.
    QTest::newRow("a million test instances")
        << Recipe{{head + "\"testInstances\":[{\"kind\":5}", 1},
                  {",{\"kind\":5}", 1000000},
                  {"]}", 1}}
        << "too many objects for the document's size";
    QTest::newRow("a million questions, the last broken")
        << Recipe{{head + "\"testInstances\":[{\"kind\":1,\"questions\":[null", 1},
                  {",{\"id\":\"\",\"type\":0}", 1000000},
                  {",{}]}]}", 1}}
        << "questions[1000001].id: missing";
    // Objects that cost far more than their JSON: refused before they outgrow the file.
    QTest::newRow("40000 test instances with a question each")
        << Recipe{{head + "\"testInstances\":[{\"kind\":1,\"questions\":[null]}", 1},
                  {",{\"kind\":1,\"questions\":[null]}", 40000},
                  {"]}", 1}}
        << "too many objects for the document's size";
    QTest::newRow("a question of a million options")
        << Recipe{{head + "\"pages\":[{\"test\":{\"kind\":1,\"questions\":[" + question +
                       ",\"options\":[{}",
                   1},
                  {",{}", 1000000},
                  {"]}]}}]}", 1}}
        << "pages[0].test.questions[0].options: too many objects for the document's size";
    QTest::newRow("a page of a million keywords")
        << Recipe{{head + "\"pages\":[{\"keywords\":[\"\"", 1}, {",\"\"", 1000000}, {"]}]}", 1}}
        << "pages[0].keywords: too many objects for the document's size";
    QTest::newRow("lone surrogate in a device label")
        << once(head + "\"testInstances\":[{\"kind\":1,\"questions\":[" + question +
                ",\"responses\":[{},{\"label\":\"D\\udc00\"}]}]}]}")
        << "testInstances[0].questions[0].responses[1].label: lone surrogate in string";
    QTest::newRow("a million empty responses, the last broken")
        << Recipe{{head + "\"testInstances\":[{\"kind\":1,\"questions\":[" + question +
                       ",\"responses\":[{}",
                   1},
                  {",{}", 1000000},
                  {",1]}]}]}", 1}}
        << "responses[1000001]: expected an object";
}

void TestHostile::readerRefuses()
{
    QFETCH(Recipe, content);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString document = dir.filePath(QStringLiteral("x.plexa"));
    QVERIFY(writeFile(document, build(content)));

    checkReaderRefuses(document, reason);
}

void TestHostile::runRefuses_data()
{
    readerRefuses_data();
}

// The whole program on the same documents: the failure lines only, exit status 1, one
// reason on standard error, nothing in the folder touched, and the peak memory bounded by a
// small multiple of the file's size.
void TestHostile::runRefuses()
{
    QFETCH(Recipe, content);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString document = dir.filePath(QStringLiteral("x.plexa"));
    const QByteArray bytes = build(content);
    QVERIFY(writeFile(document, bytes));
    // An earlier export of the same name stays as it is.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("x.csv")), "Ann,100\r\n"));
    const auto before = snapshot(dir.path());

    const ChildOutcome outcome = runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document});
    checkRefusedRun(outcome, document, reason);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(snapshot(dir.path()), before);

    if (sanitized || underValgrind())
        return;
    const QString excess = peakExcess(outcome, bytes.size());
    QVERIFY2(excess.isEmpty(), qPrintable(excess));
}

void TestHostile::placeRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder named x.plexa") << "folder"
                                          << "not a regular file";
    QTest::newRow("no such file") << "missing"
                                  << "no such file";
    QTest::newRow("file that cannot be read") << "unreadable"
                                              << "cannot read";
#ifdef Q_OS_UNIX
    // Opening a pipe for reading blocks until a writer comes; the run must not wait.
    QTest::newRow("FIFO named x.plexa") << "fifo"
                                        << "not a regular file";
    QTest::newRow("link to nowhere") << "dangling"
                                     << "no such file";
    // Reading it would never end.
    QTest::newRow("link to /dev/zero") << "device"
                                       << "not a regular file";
    // Refused before it is read, rather than failing half-way or being killed: a 1 GiB
    // document may need four times that, and the program may map only 1 GiB.
    QTest::newRow("more than the memory the program can get")
        << "huge"
        << "not enough memory: needs about 4104 MB, ";
#endif
}

// A path that is no readable document: the reader and the whole program refuse it at once.
void TestHostile::placeRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString document = dir.filePath(QStringLiteral("x.plexa"));
    ChildLimits limits;
    bool readerCase = true;
#ifdef Q_OS_WIN
    std::unique_ptr<ExclusiveHold> hold;
#else
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther));
    const QByteArray path = QFile::encodeName(document);
#endif
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(document));
    } else if (kind == QLatin1String("unreadable")) {
        QVERIFY(writeFile(document, "{\"plexa\":1}"));
#ifdef Q_OS_WIN
        // A file that another program holds open without sharing it.
        hold = std::make_unique<ExclusiveHold>(document);
        QVERIFY(hold->isHeld());
#else
        QCOMPARE(chmod(path.constData(), 0), 0);
        // Root reads every file: the program then runs as an unprivileged user, and the
        // reader's own case is left out.
        if (geteuid() == 0) {
            readerCase = false;
            if (const char *why = runAsUnprivileged(limits, QStringLiteral(SCORLET_EXPORT_PROGRAM)))
                QSKIP(why);
        }
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(path.constData(), 0644), 0);
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone.plexa")), document));
    } else if (kind == QLatin1String("device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), document));
    } else if (kind == QLatin1String("huge")) {
        // The sanitizers reserve far more address space than any such limit.
        if (sanitized || underValgrind())
            QSKIP("an address-space limit does not suit a sanitized program");
        QFile file(document);
        // Sparse where the file system allows it; nothing of it is read.
        if (!file.open(QIODevice::WriteOnly) || !file.resize(Q_INT64_C(1) << 30))
            QSKIP("cannot make a 1 GiB file here");
        readerCase = false;
        limits.addressSpaceLimit = rlim_t(1) << 30;
#endif
    }
    // The large file's content is left out of the comparison; its size and time stand for it.
    const bool large = kind == QLatin1String("huge");
    const auto look = [&] {
        if (!large)
            return snapshot(dir.path());
        const QFileInfo info(document);
        return QMap<QString, QByteArray>{
            {folderEntries(dir.path()).join(QLatin1Char('/')),
             QByteArray::number(info.size()) + ' ' +
                 QByteArray::number(info.lastModified().toMSecsSinceEpoch())}};
    };
    const auto before = look();

    if (readerCase) {
        checkReaderRefuses(document, reason);
        if (QTest::currentTestFailed())
            return;
    }

    limits.watchdogMs = 60000;
    const ChildOutcome outcome =
        runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), {document}, limits);
    checkRefusedRun(outcome, document, reason);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(look(), before);
}

void TestHostile::bigDocumentsOpen_data()
{
    QTest::addColumn<Recipe>("content");
    // Rows of big.csv, or -1 where it is not written.
    QTest::addColumn<int>("students");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");

    const QByteArray instance = "{\"plexa\":1,\"pages\":[{\"test\":{\"kind\":1,\"questions\":["
                                "{\"id\":\"q\",\"type\":7,\"answers\":[\"a\"]}]}}],"
                                "\"testInstances\":[{\"kind\":1,\"questions\":[{\"id\":\"q\","
                                "\"type\":7,\"answers\":[\"a\"],\"responses\":[";
    QTest::newRow("10 MB title") << Recipe{{"{\"plexa\":1,\"title\":\"", 1},
                                           {QByteArray(Mb, 'x'), 10},
                                           {"\"}", 1}}
                                 << 0 << QStringList() << 0;
    QTest::newRow("10 MB response text")
        << Recipe{{instance + "{\"studentId\":\"s\",\"text\":\"", 1},
                  {QByteArray(Mb, 'a'), 10},
                  {"\"}]}]}]}", 1}}
        << 1 << QStringList() << 0;
    QTest::newRow("a million responses")
        << Recipe{{instance + "{\"studentId\":\"s\",\"text\":\"a\"}", 1},
                  {",{\"studentId\":\"s\",\"text\":\"a\"}", 1000000},
                  {"]}]}]}", 1}}
        << 1 << QStringList() << 0;
    // Each response from a student of its own: the engine's tables grow by the student.
    QByteArray students;
    for (int i = 0; i < 300000; ++i)
        students += ",{\"label\":\"" + QByteArray::number(i, 36) + "\"}";
    QTest::newRow("300000 students") << Recipe{{instance, 1}, {students.mid(1), 1}, {"]}]}]}", 1}}
                                     << 300000 << QStringList() << 0;
    // Every option at once, on students without an id (all left out, each named) and a
    // report of it.
    const QStringList everything{"--layout=canvas", "--require-id", "--sort", "--bom",
                                 "--report=@DIR@/run.json"};
    QTest::newRow("300000 students, every option")
        << Recipe{{instance, 1}, {students.mid(1), 1}, {"]}]}]}", 1}} << 1 << everything << 1;
    // Each page routed to a file of its own, by a key that cannot be written; blanks after
    // each page make it big enough for the reader's own bound.
    QByteArray pages;
    for (int i = 0; i < 50000; ++i)
        pages += ",{\"keywords\":[\"CSV:|" + QByteArray::number(i, 36) +
                 "\"],\"test\":{\"kind\":1}}" + QByteArray(60, ' ');
    QTest::newRow("50000 keyword files")
        << Recipe{{"{\"plexa\":1,\"pages\":[", 1}, {pages.mid(1), 1}, {"]}", 1}} << -1
        << QStringList{"--report=@DIR@/run.json"} << 1;
    // One class of 600 answering in each of 600 keyword files.
    QByteArray filePages;
    QByteArray fileRuns;
    QByteArray classResponses;
    for (int i = 0; i < 600; ++i)
        classResponses += ",{\"label\":\"s" + QByteArray::number(100 + i) + "\"}";
    for (int i = 0; i < 600; ++i) {
        const QByteArray question =
            "{\"id\":\"q" + QByteArray::number(i) + "\",\"type\":6,\"answers\":[\"1\"]";
        filePages += ",{\"keywords\":[\"CSV:|F" + QByteArray::number(i) +
                     "\"],\"test\":{\"kind\":1,\"questions\":[" + question + "}]}}";
        fileRuns += ",{\"kind\":1,\"questions\":[" + question + ",\"responses\":[" +
                    classResponses.mid(1) + "]}]}";
    }
    QTest::newRow("one class in 600 keyword files")
        << Recipe{{"{\"plexa\":1,\"pages\":[", 1},
                  {filePages.mid(1), 1},
                  {"],\"testInstances\":[", 1},
                  {fileRuns.mid(1), 1},
                  {"]}", 1}}
        << -1 << QStringList{"--layout=moodle", "--report=@DIR@/run.json"} << 1;
    QTest::newRow("a million numbers in an unknown member")
        << Recipe{{"{\"plexa\":1,\"x\":[0", 1}, {",0", 1000000}, {"]}", 1}} << 0 << QStringList()
        << 0;
}

// Big documents that are well formed open and export, and cost no more than a small
// multiple of their size.
void TestHostile::bigDocumentsOpen()
{
    QFETCH(Recipe, content);
    QFETCH(int, students);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString document = dir.filePath(QStringLiteral("big.plexa"));
    const QByteArray bytes = build(content);
    QVERIFY(writeFile(document, bytes));
    options.replaceInStrings(QStringLiteral("@DIR@"), dir.path());

    const ChildOutcome outcome =
        runChild(QStringLiteral(SCORLET_EXPORT_PROGRAM), options + QStringList{document});
    QVERIFY(!outcome.timedOut);
    QCOMPARE(outcome.signal, 0);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.outLines().last(), QStringLiteral("-------------------------"));
    if (!options.filter(QStringLiteral("--report")).isEmpty())
        QVERIFY(
            QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("run.json")))).isObject());
    if (students > 0) {
        QList<QStringList> records;
        QVERIFY(parseRfc4180(QString::fromUtf8(readFile(dir.filePath(QStringLiteral("big.csv")))),
                             records));
        QCOMPARE(records.size(), students);
    }

    if (sanitized || underValgrind())
        return;
    const QString excess = peakExcess(outcome, bytes.size());
    QVERIFY2(excess.isEmpty(), qPrintable(excess));
}

void TestHostile::hostileText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("comma") << "Smith, Ann";
    QTest::newRow("quotes") << "Ann \"The Brain\" Lee";
    QTest::newRow("quote at the start") << "\"Ann";
    QTest::newRow("CR LF") << "Ann\r\nLee";
    QTest::newRow("lone CR") << "Ann\rLee";
    QTest::newRow("lone LF") << "Ann\nLee";
    QTest::newRow("everything a CSV reader splits on") << "\"a\",,b\r\n\"\"\n,";
    QTest::newRow("placeholders") << "%1 %2 %n %L1 %% %";
    QTest::newRow("blanks around") << "  Ann  ";
    QTest::newRow("tab and NUL") << QStringLiteral("a\tb") + QChar(0) + QStringLiteral("c");
    QTest::newRow("right-to-left")
        << QString::fromUtf8("\u05D0\u05D1\u05D2 \u0627\u0644\u0639\u0631\u0628\u064A\u0629 "
                             "\u202Egnp.exe\u202C");
    QTest::newRow("combining characters")
        << QString::fromUtf8("e\u0301\u0308 A\u030A \u1100\u1161");
    QTest::newRow("outside the BMP") << QString::fromUtf8("\U0001F600 \U00010348");
    QTest::newRow("1 MB") << QString(Mb, QLatin1Char('k')) + QStringLiteral(",\"\r\n%1");
}

// Texts that students and teachers type travel unchanged: the CSV reads back under a strict
// RFC 4180 reader with the same keys and grades, and notices and diagnostic lines show them
// as they are, a percent sign included.
void TestHostile::hostileText()
{
    QFETCH(QString, text);

    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString folder = base.filePath(QStringLiteral("100% %1 class"));
    QVERIFY(QDir().mkpath(folder));
    const QString document = folder + QStringLiteral("/Lesson.plexa");

    // q1 right and q2 wrong for the student typed as `text`; both right for "plain"; the
    // hostile text as a wrong answer from "other".
    using namespace doc;
    const QJsonArray pages{
        page(test(1, {numeric("q1", "1", {}, text), numeric("q2", "2", {}, "plain")}, text, text),
             {"CSV: %1 %n"}),
        page(test(1, {numeric("q1", "1", {}, text)}, text, text))};
    const QJsonArray instances{test(
        1,
        {numeric("q1", "1", {response("1", text), response("1", "plain")}, text),
         numeric("q2", "2", {response("5", text), response("2", "plain"), response(text, "other")},
                 "plain")},
        text, text)};
    QVERIFY(writeFile(document, doc::document(pages, instances)));

    EngineHarness h;
    {
        DiagnosticCapture diagnostics;
        QVERIFY(h.exportDocument(document));

        const QStringList &lines = DiagnosticCapture::lines();
        const QString found = QStringLiteral("[ Dump Responses ] - ");
        QVERIFY(lines.contains(found + QStringLiteral("Found Question of type (6) with text (") +
                               text + QStringLiteral(").")));
        QVERIFY(lines.contains(found + QStringLiteral("Found Self Paced Test with title (") + text +
                               QStringLiteral(") started on (") + text + QStringLiteral(").")));
        QVERIFY(lines.contains(found + QStringLiteral("Found response (1) from user (") + text +
                               QStringLiteral(") with id () and device label ().")));
        QVERIFY(lines.contains(found + QStringLiteral("Found response (") + text +
                               QStringLiteral(") from user (other) with id () and device "
                                              "label ().")));
    }
    const QList<QPair<QString, QString>> &notices = h.notices.shown;
    const QStringList &log = h.log.lines;

    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.first().first, QStringLiteral("error duplicate question?"));
    QCOMPARE(notices.first().second, text);

    const QString csv = folder + QStringLiteral("/Lesson_%1 %N.csv");
    QVERIFY(log.contains(QStringLiteral("Creating export file ") + native(csv)));
    QVERIFY(log.contains(QStringLiteral("Finished exporting to Lesson_%1 %N.csv ")));
    QVERIFY(log.contains(QStringLiteral("The CSV file is located in this folder ") +
                         native(folder) +
                         QStringLiteral(". It is in the same location as your Plexa file.")));
    QVERIFY(log.contains(
        QStringLiteral("Please locate the Lesson_%1 %N.csv file and import it into your grade "
                       "book.")));

    QList<QStringList> records;
    QVERIFY(parseRfc4180(QString::fromUtf8(readFile(csv)), records));
    QMap<QString, QString> grades;
    for (const QStringList &record : std::as_const(records)) {
        QCOMPARE(record.size(), 2);
        QVERIFY(!grades.contains(record.at(0)));
        grades.insert(record.at(0), record.at(1));
    }
    const QMap<QString, QString> expected{{text, QStringLiteral("50")},
                                          {QStringLiteral("plain"), QStringLiteral("100")},
                                          {QStringLiteral("other"), QStringLiteral("0")}};
    QCOMPARE(grades, expected);
}

void TestHostile::regressionInputs_data()
{
    QTest::addColumn<QString>("path");
    for (const QString &folder :
         {QStringLiteral(SCORLET_TEST_DATA "/regressions"), QStringLiteral(SCORLET_FUZZ_CORPUS)}) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(dir.dirName() + QLatin1Char('/') + name))
                << dir.filePath(name);
    }
}

// Inputs that once broke the reader or the run, and the fuzzers' seeds: each is read, walked
// and exported whole, and the run ends with its own last lines.
void TestHostile::regressionInputs()
{
    QFETCH(QString, path);

    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString folder = base.filePath(QStringLiteral("lesson"));
    QVERIFY(QDir().mkpath(folder));
    const QString document = folder + QStringLiteral("/input.plexa");
    QVERIFY(QFile::copy(path, document));

    EngineHarness h;
    {
        WarningCapture quiet;
        h.exportDocument(document);
    }
    const QStringList &log = h.log.lines;

    QVERIFY(!log.isEmpty());
    if (!h.engine.lastRun.opened) {
        QCOMPARE(log.size(), 2);
        QCOMPARE(log.last(), QStringLiteral("FAILED to open plexa "));
    } else {
        QCOMPARE(log.last(), QStringLiteral("-------------------------"));
        for (const ExportFile &file : h.engine.database.exportFiles) {
            if (!QFileInfo::exists(file.filePath()))
                continue;
            QCOMPARE(QFileInfo(file.filePath()).absolutePath(), folder);
            QList<QStringList> records;
            QVERIFY(parseRfc4180(QString::fromUtf8(readFile(file.filePath())), records));
            QCOMPARE(records.size(), file.students().size());
            for (const QStringList &record : std::as_const(records)) {
                QCOMPARE(record.size(), 2);
                const int grade = record.at(1).toInt();
                QVERIFY(grade >= 0 && grade <= 100);
            }
        }
    }
    // Nothing but the document and its CSV files, and nothing next to the folder.
    for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot))
        QVERIFY2(name == QLatin1String("input.plexa") || name.endsWith(QLatin1String(".csv")),
                 qPrintable(name));
    QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("lesson")});
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
