// The OEM code page on POSIX: there is none. File names are UTF-8, and the engine stores the names that
// fit CP437 in it, the page other ZIP tools assume for names without the UTF-8 flag.
#include "archive/fs/fs.h"

namespace archive::fs {

std::optional<std::array<char32_t, 128>> OemCodePageHigh() { return std::nullopt; }

}  // namespace archive::fs
