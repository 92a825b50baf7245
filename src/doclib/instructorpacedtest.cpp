#include <roruri1/test.h>

namespace Zazizi {

InstructorPacedTest::InstructorPacedTest(QObject *parent) : Test(parent) {}

InstructorPacedTest::~InstructorPacedTest() = default;

} // namespace Zazizi
