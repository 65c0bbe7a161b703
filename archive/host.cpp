#include "archive/host.h"

#include <cstdio>

namespace archive {

Answer DefaultHost::MessageBox(const std::string& caption, const std::string& text, Buttons buttons) {
    if (log_) std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

Host& NullHost() {
    static DefaultHost host;
    return host;
}

}  // namespace archive
