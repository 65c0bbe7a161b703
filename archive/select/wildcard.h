// The wildcard matcher used wherever a pattern meets a name: the writer's file list, its exclusion and
// no-compression lists, and the reader's entry selection.
//
// Pattern and text are lowered (A-Z only) first. '*' matches any run, '/' included (a star crosses
// folders); '?' one character; "<...>" one character of a set (members, ranges "a-z", "!" or "^" negates);
// a star directly before a set matches a run of members only. A malformed set matches nothing.
#pragma once

#include <string_view>

namespace archive {

bool WildcardMatch(std::string_view pattern, std::string_view text);

// Whether s holds one of the five wildcard characters * ? < > |.
bool HasWildcards(std::string_view s);

}  // namespace archive
