#include "archive/host.h"

#include <cstdio>

#include "archive/records/printable_name.h"

namespace archive {

Answer DefaultHost::MessageBox(const std::string& caption, const std::string& text, Buttons buttons) {
    // A text may quote a stored name ("Replace existing file ...?"): nothing in it reaches the terminal raw.
    if (log_) std::fprintf(stderr, "%s: %s\n", PrintableName(caption).c_str(), PrintableName(text).c_str());
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

Host& NullHost() {
    static DefaultHost host;
    return host;
}

}  // namespace archive
