// Names shown on a terminal: which bytes are written as "\xNN" and which pass as they are.
#include "archive/records/printable_name.h"

#include <gtest/gtest.h>

#include "archive/host.h"

namespace {

using archive::HoldsControlBytes;
using archive::PrintableName;

TEST(PrintableName, EscapesWhatATerminalActsOnAndKeepsText) {
    const struct {
        std::string name;
        std::string shown;
        bool controls;  // what the name judge refuses
    } cases[] = {
        {"DB/Awards.mdb", "DB/Awards.mdb", false},
        {"", "", false},
        {"~ !#$%&'()+,-.;=@[]^_`{}", "~ !#$%&'()+,-.;=@[]^_`{}", false},
        {std::string("\0x.txt", 6), "\\x00x.txt", true},
        {"a\x01" "b", "a\\x01b", true},
        {"tab\there\nnew\rline", "tab\\x09here\\x0Anew\\x0Dline", true},
        {"\x1b[2J\x1b]0;title\x07.txt", "\\x1B[2J\\x1B]0;title\\x07.txt", true},
        {"del\x7f", "del\\x7F", true},
        {"last\x1f", "last\\x1F", true},
        // UTF-8 text passes, C1 controls (U+0080-U+009F) do not: U+009B is ESC [ on some terminals.
        {"Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x93\xBB", "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x93\xBB", false},
        {"\xC2\xA0nbsp", "\xC2\xA0nbsp", false},
        {"csi\xC2\x9B" "31m", "csi\\xC2\\x9B31m", false},
        {"\xC2\x80", "\\xC2\\x80", false},
        // Bytes outside well-formed UTF-8, one by one: a lone 0x9B is CSI to an 8-bit terminal.
        {"raw\x9B" "31m", "raw\\x9B31m", false},
        {"\xFF\xFE", "\\xFF\\xFE", false},
        {"cut\xE2\x82", "cut\\xE2\\x82", false},
        {"\xE2\x82" "A", "\\xE2\\x82A", false},
        {"\xC0\xAF", "\\xC0\\xAF", false},          // overlong '/'
        {"\xE0\x80\xAF", "\\xE0\\x80\\xAF", false},  // overlong '/', three bytes
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", false},  // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", false},  // above U+10FFFF
        {"\xF0\x8F\xBF\xBF", "\\xF0\\x8F\\xBF\\xBF", false},  // overlong, four bytes
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", false},  // U+10FFFF itself
        {"\xE2\x82\xAC\x1b", "\xE2\x82\xAC\\x1B", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrintableName(c.name), c.shown) << c.shown;
        EXPECT_EQ(HoldsControlBytes(c.name), c.controls) << c.shown;
    }
    // A sequence cut by the end of the name is judged on the name alone, not on the bytes after it.
    const std::string_view cut = std::string_view("cut\xE2\x82\xAC", 5);
    EXPECT_EQ(PrintableName(cut), "cut\\xE2\\x82");
}

// The host that writes message boxes to standard error (zbk's) shows a quoted name escaped too.
TEST(PrintableName, TheLoggingHostEscapesItsBoxes) {
    archive::DefaultHost host(true);
    testing::internal::CaptureStderr();
    host.MessageBox("File Exists Alert", "Replace existing file \x1b[2Jx.txt?", archive::Buttons::YesNo);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "File Exists Alert: Replace existing file \\x1B[2Jx.txt?\n");
}

}  // namespace
