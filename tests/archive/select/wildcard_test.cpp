// The wildcard matcher against the cases that tell a faithful matcher from a plausible one: stars that
// cross folders, the text running out before the pattern, sets and their malformed forms, and the
// star-set that must pass over at least one member at the end of a pattern.
#include "archive/select/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* pattern;
    const char* text;
    bool match;
};

void RunTable(const char* group, std::initializer_list<Case> cases) {
    for (const Case& c : cases)
        EXPECT_EQ(archive::WildcardMatch(c.pattern, c.text), c.match)
            << group << ": pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
}

TEST(WildcardMatch, StarsAndDots) {
    RunTable("stars", {
                          {"*", "", true},
                          {"*", "anything/at all", true},
                          {"*.*", "README", false},  // the walker appends the dot, the matcher does not
                          {"*.*", "README.", true},
                          {"*.*", "a.b", true},
                          {"README", "README.", false},
                          {"README.", "README.", true},
                          {"*.md", "x.mdb", false},
                          {"*.md", "x.md", true},
                          {"*.dat", "a.data", false},
                          {"*.dat", "bands.dat", true},
                          {"*.ini", "db/x.ini", true},  // a star crosses folders
                          {"*.mdb", "db/old/logs.mdb", true},
                          {"LanguageFile*", "LanguageFileEnglish.lng", true},
                          {"LanguageFile*", "languagefile", true},
                          {"LanguageFile*", "MyLanguageFile.ini", false},
                      });
}

TEST(WildcardMatch, LettersFoldOnlyAtoZ) {
    RunTable("case", {
                         {"DB/*.*", "db/Awards.mdb", true},
                         {"*.INI", "config.ini", true},
                         {"\xC3\x84.txt", "\xC3\x84.txt", true},   // "Ä" against itself
                         {"\xC3\x84.txt", "\xC3\xA4.txt", false},  // "Ä" does not fold to "ä"
                     });
}

TEST(WildcardMatch, FolderPatterns) {
    RunTable("folders", {
                            {"db/awards.*", "DB/Awards.mdb", true},
                            {"db/awards.*", "DB/Awards.ldb", true},
                            {"db/awards.*", "DB/AwardsX.mdb", false},
                            {"db/awards.*", "Awards.mdb", false},
                            {"tmp/*.reg", "TMP/zorvel3_Registry.reg", true},
                        });
}

TEST(WildcardMatch, TextUsedUpFirst) {
    RunTable("end of text", {
                                {"a*", "a", true},
                                {"a**", "a", false},
                                {"**", "", false},
                                {"", "", true},
                                {"", "a", false},
                                {"a", "", false},
                                {"abc", "ab", false},
                                {"ab", "abc", false},
                            });
}

TEST(WildcardMatch, QuestionMarks) {
    RunTable("question marks", {
                                   {"a?b", "ab", false},
                                   {"a?b", "axb", true},
                                   {"a?b", "axxb", false},
                                   {"*?", "", false},
                                   {"*?", "x", true},
                                   {"*?", "xyz", true},
                                   {"*??", "x", false},
                                   {"*??", "xy", true},
                                   {"?*x", "x", false},
                                   {"*?x", "ax", true},
                                   {"*?x", "x", false},
                                   {"???", "abc", true},
                               });
}

TEST(WildcardMatch, StarSearchTriesLaterPositions) {
    RunTable("backtracking", {
                                 {"*a.txt", "a.txt.a.txt", true},
                                 {"*.txt", "a.txt.bak", false},
                                 {"*b*c", "abxbyc", true},
                                 {"*b*c", "abxbyd", false},
                                 {"a*b*c*d", "aXbYcZd", true},
                                 {"a*b*c*d", "aXbYcZ", false},
                             });
}

TEST(WildcardMatch, Sets) {
    RunTable("sets", {
                         {"<a-c>x", "bx", true},
                         {"<a-c>x", "dx", false},
                         {"<!a-c>x", "bx", false},
                         {"<!a-c>x", "dx", true},
                         {"<^a-c>x", "dx", true},
                         {"<^a-c>x", "ax", false},
                         {"<abc>", "b", true},
                         {"<abc>", "d", false},
                         {"<abc>", "", false},
                         {"<a-cx-z>", "y", true},
                         {"<a-cx-z>", "m", false},
                         {"<A-C>x", "bx", true},  // the pattern is lowered too
                         {"<c-a>", "b", false},   // a range whose end is below its start is empty
                         {"<0-9><0-9>", "42", true},
                         {"<!!>", "!", false},
                         {"<!!>", "x", true},
                         {"<*>", "*", true},  // inside a set a star is a member
                         {"<*>", "a", false},
                         {"x>y", "x>y", true},  // a ">" outside a set is a plain character
                     });
}

TEST(WildcardMatch, SetMembersOutsideAtoZKeepTheirCase) {
    RunTable("set case", {
                             {"<\xC4>", "\xC4", true},   // single-byte member outside A-Z
                             {"<\xC4>", "\xE4", false},  // its lower-case partner is not folded
                             {"<\xC4-\xC6>", "\xC5", true},
                         });
}

TEST(WildcardMatch, StarSet) {
    RunTable("star-set", {
                             {"*<0-9>.txt", "123.txt", true},
                             {"*<0-9>.txt", "1a3.txt", false},
                             {"*<0-9>.txt", ".txt", true},  // in the middle the run may be empty
                             {"*<0-9>", "", false},         // at the end it needs one character
                             {"*<0-9>", "7", true},
                             {"*<0-9>", "2024", true},
                             {"*<0-9>", "20a4", false},
                             {"log*<0-9>", "log", false},
                             {"log*<0-9>", "log12", true},
                             {"*<!0-9>.txt", "abc.txt", true},
                             {"*<!0-9>.txt", "ab1.txt", false},
                             {"*?<0-9>", "x5", true},  // not a star-set: '?' stands between
                             {"*?<0-9>", "xy5", true},
                         });
}

TEST(WildcardMatch, MalformedSetsMatchNothing) {
    RunTable("malformed", {
                              {"<a-c", "a", false},  // never closed
                              {"*<a-c", "a", false},
                              {"a*<a-c", "ab", false},
                              {"<>", "a", false},  // empty
                              {"<>", "", false},
                              {"<!>", "a", false},  // negation alone
                              {"<^>", "a", false},
                              {"<a->", "a", false},  // range without its second character
                              {"<a->", "-", false},
                              {"*.txt<", "a.txt", false},  // even where the text would not reach it
                          });
}

TEST(WildcardMatch, ManyStarsStayFast) {
    // Exponential backtracking would take far beyond the test's time limit here.
    const std::string text(2000, 'a');
    EXPECT_FALSE(archive::WildcardMatch("*a*a*a*a*a*a*a*a*a*a*b", text));
    EXPECT_TRUE(archive::WildcardMatch("*a*a*a*a*a*a*a*a*a*a*", text));
    EXPECT_FALSE(archive::WildcardMatch("*<a>*<a>*<a>*<a>*<a>*b", text));
}

TEST(HasWildcards, FiveCharacters) {
    for (const char* s : {"*.ini", "a?b", "x<0-9>", "|/log/x", ">/log/x", "a>b", "a|b"})
        EXPECT_TRUE(archive::HasWildcards(s)) << s;
    for (const char* s : {"", "/log/DB/Awards.mdb", "a-b[c]", "{x}", "a!b^c"})
        EXPECT_FALSE(archive::HasWildcards(s)) << s;
}

}  // namespace
