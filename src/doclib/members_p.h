#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

// The members each kind of object of the document knows, by number. The checking reader and
// every walk of an accepted document name members through these tables only, so that a number
// stands for the same member everywhere. Each enumeration ends with Unknown, which is also the
// number of members it knows.
namespace Zazizi {

enum class RootMember { Plexa, Title, Pages, TestInstances, Unknown };
enum class PageMember { Keywords, Test, Unknown };
enum class TestMember { Kind, Class, Title, StartedOn, Questions, Unknown };
enum class QuestionMember {
    Id,
    Text,
    Type,
    HasCorrectAnswer,
    Answers,
    Options,
    LabelType,
    TextComparison,
    Tolerance,
    Responses,
    Unknown
};
enum class OptionMember { Label, Correct, Unknown };
enum class ResponseMember { Text, StudentId, StudentName, Label, StartTime, Unknown };
// The values of a test's "class" member.
enum class TestClass { Plain, SelfPaced, InstructorPaced, Unknown };

namespace Json {
// The index of `name`, a text with escapes as the document has it, among `count` names;
// `count` when none. Decodes the name first: the slow road, for names with a backslash.
std::size_t escapedNameIndex(std::string_view name, const std::string_view *names,
                             std::size_t count);
} // namespace Json

template <typename Member>
struct MemberTable
{
    static constexpr std::size_t Count = std::size_t(Member::Unknown);
    std::string_view names[Count];

    constexpr std::string_view name(Member member) const { return names[std::size_t(member)]; }
    // Every member named: a table shorter than its enumeration fails to compile.
    constexpr bool complete() const
    {
        for (const std::string_view &n : names) {
            if (n.empty())
                return false;
        }
        return true;
    }
    // One bit per member, for a reader that refuses a member given twice.
    static constexpr unsigned bit(Member member) { return 1u << unsigned(member); }

    // The member that `name` stands for, or Unknown; `name` is the text between the quotes as
    // the document has it. On the path of every member read: the length rules out most names
    // before a comparison is made.
    Member find(std::string_view name) const
    {
        for (std::size_t i = 0; i < Count; ++i) {
            if (names[i].size() == name.size() &&
                std::memcmp(names[i].data(), name.data(), name.size()) == 0)
                return Member(i);
        }
        if (name.find('\\') == std::string_view::npos)
            return Member::Unknown;
        return Member(Json::escapedNameIndex(name, names, Count));
    }
};

inline constexpr MemberTable<RootMember> RootMembers{{"plexa", "title", "pages", "testInstances"}};
inline constexpr MemberTable<PageMember> PageMembers{{"keywords", "test"}};
inline constexpr MemberTable<TestMember> TestMembers{
    {"kind", "class", "title", "startedOn", "questions"}};
inline constexpr MemberTable<QuestionMember> QuestionMembers{
    {"id", "text", "type", "hasCorrectAnswer", "answers", "options", "labelType", "textComparison",
     "tolerance", "responses"}};
inline constexpr MemberTable<OptionMember> OptionMembers{{"label", "correct"}};
inline constexpr MemberTable<ResponseMember> ResponseMembers{
    {"text", "studentId", "studentName", "label", "startTime"}};
inline constexpr MemberTable<TestClass> TestClasses{
    {"Test", "SelfPacedTest", "InstructorPacedTest"}};
static_assert(RootMembers.complete() && PageMembers.complete() && TestMembers.complete() &&
              QuestionMembers.complete() && OptionMembers.complete() &&
              ResponseMembers.complete() && TestClasses.complete());

} // namespace Zazizi
