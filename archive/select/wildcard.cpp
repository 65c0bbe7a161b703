// The wildcard matcher.
//
// Pattern and text are lowered (A-Z only: other bytes, UTF-8 included, match only in the same case) and
// walked together. Plain characters, '?' and sets each consume one text character. A star (with the
// stars and question marks right after it) tries the rest of the pattern at the current text position
// and at each following one; an attempt is only worth making where the text character equals the next
// pattern character, or where the next element is a set. A star written directly before a set is a
// "star-set": it passes only over members of the set, may pass over none in the middle of a pattern
// and must pass over at least one at its very end.
//
// When the text is used up first, the only rest of pattern that still matches is exactly one star: so
// "**" does not match the empty text while "*" does, and "a**" does not match "a".
//
// A malformed set (empty, "!" or "^" alone, a range without its second character, no closing ">")
// makes the whole match fail. Any successful match passes every set of the pattern, so checking the
// sets once up front gives exactly that answer and lets the walk assume well-formed sets.
//
// Backtracking over several stars can retry the same (pattern, text) position pair many times; a
// pattern such as "*a*a*a*a*b" against a long run of a's would take exponential time. The attempts made
// from star searches are therefore remembered when they fail, which bounds the work by
// pattern length x text length x text length.
#include "archive/select/wildcard.h"

#include "archive/ascii_fold.h"

#include <string>
#include <vector>

namespace archive {

namespace {

// A parsed "<...>" set: the members between begin and end (exclusive), negation, and the position just
// past the closing ">".
struct Set {
    size_t begin = 0;
    size_t end = 0;
    bool negated = false;
    size_t next = 0;
};

// Parses the set starting at pattern[at] == '<'. False when it is malformed.
bool ParseSet(const std::string& p, size_t at, Set& set) {
    size_t i = at + 1;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
        set.negated = true;
        ++i;
    }
    set.begin = i;
    while (i < p.size() && p[i] != '>') {
        if (i + 1 < p.size() && p[i + 1] == '-') {
            // A range needs its second character, and that character cannot be the closing '>'.
            if (i + 2 >= p.size() || p[i + 2] == '>') return false;
            i += 3;
        } else {
            ++i;
        }
    }
    if (i >= p.size()) return false;  // never closed
    set.end = i;
    set.next = i + 1;
    return set.end > set.begin;  // empty, or "!" / "^" alone
}

bool InSet(const std::string& p, const Set& set, char c) {
    const auto u = static_cast<unsigned char>(c);
    bool member = false;
    for (size_t i = set.begin; i < set.end && !member;) {
        if (i + 1 < set.end && p[i + 1] == '-') {
            const auto lo = static_cast<unsigned char>(p[i]);
            const auto hi = static_cast<unsigned char>(p[i + 2]);
            member = u >= lo && u <= hi;  // a range whose end is below its start holds nothing
            i += 3;
        } else {
            member = u == static_cast<unsigned char>(p[i]);
            ++i;
        }
    }
    return member != set.negated;
}

bool SetsWellFormed(const std::string& p) {
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] != '<') continue;
        Set set;
        if (!ParseSet(p, i, set)) return false;
        i = set.next - 1;
    }
    return true;
}

class Matcher {
public:
    Matcher(const std::string& pattern, const std::string& text) : p_(pattern), t_(text) {}

    bool Match(size_t p, size_t t) {
        for (;;) {
            if (p == p_.size()) return t == t_.size();
            if (t == t_.size()) return p + 1 == p_.size() && p_[p] == '*';

            const char c = p_[p];
            if (c == '*') return Star(p, t);
            if (c == '?') {
                ++p;
                ++t;
            } else if (c == '<') {
                Set set;
                ParseSet(p_, p, set);
                if (!InSet(p_, set, t_[t])) return false;
                p = set.next;
                ++t;
            } else {
                if (c != t_[t]) return false;
                ++p;
                ++t;
            }
        }
    }

private:
    // The star at p_[p]: absorbs the stars and question marks that follow, then searches.
    bool Star(size_t p, size_t t) {
        bool lastWasStar = false;
        while (p < p_.size() && (p_[p] == '*' || p_[p] == '?')) {
            lastWasStar = p_[p] == '*';
            if (p_[p] == '?') {
                if (t == t_.size()) return false;
                ++t;
            }
            ++p;
        }
        if (p == p_.size()) return true;

        if (p_[p] == '<' && lastWasStar) {
            Set set;
            ParseSet(p_, p, set);
            const size_t rest = set.next;
            if (rest == p_.size()) {
                // At the very end: one or more members, up to the end of the text.
                if (t == t_.size()) return false;
                for (; t < t_.size(); ++t)
                    if (!InSet(p_, set, t_[t])) return false;
                return true;
            }
            for (; t < t_.size(); ++t) {
                if (Attempt(rest, t)) return true;
                if (!InSet(p_, set, t_[t])) return false;
            }
            return false;
        }

        const bool nextIsSet = p_[p] == '<';
        for (; t < t_.size(); ++t) {
            if (!nextIsSet && t_[t] != p_[p]) continue;
            if (Attempt(p, t)) return true;
        }
        return false;
    }

    // One try of the rest of the pattern from a star; failures are remembered (a success ends the match).
    bool Attempt(size_t p, size_t t) {
        const size_t width = t_.size() + 1;
        if (failed_.empty()) failed_.assign((p_.size() + 1) * width, false);
        const size_t at = p * width + t;
        if (failed_[at]) return false;
        if (Match(p, t)) return true;
        failed_[at] = true;
        return false;
    }

    const std::string& p_;
    const std::string& t_;
    std::vector<bool> failed_;
};

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view text) {
    if (pattern == "*") return true;
    const std::string p = FoldedAscii(pattern);
    if (!SetsWellFormed(p)) return false;
    const std::string t = FoldedAscii(text);
    return Matcher(p, t).Match(0, 0);
}

bool HasWildcards(std::string_view s) { return s.find_first_of("*?<>|") != std::string_view::npos; }

}  // namespace archive
