// Names as they may be shown: a stored name is bytes from the archive, and a terminal takes some of them
// for commands (ESC starts a sequence that can move the cursor, retitle the window or hide text).
#pragma once

#include <string>
#include <string_view>

namespace archive {

// True when the name holds a control byte: 0x00-0x1F or 0x7F. No file name of ours needs one, and the
// file system would cut a name at its NUL.
bool HoldsControlBytes(std::string_view name);

// The name with every byte a terminal could act on written as "\xNN" (two upper-case hex digits): the
// control bytes above, the C1 controls U+0080-U+009F (each byte of their UTF-8 form), and every byte
// that is not part of a well-formed UTF-8 sequence. Everything else is kept as it is. Names read from an
// archive hold no '\' (it reads as a separator), so an escape cannot be mistaken for the name's own text.
std::string PrintableName(std::string_view name);

}  // namespace archive
