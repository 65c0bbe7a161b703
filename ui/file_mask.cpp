// Matching with '*' and '?': a linear walk that remembers the last star and retries from it, so a mask
// never costs more than length(mask) x length(name) steps.
#include "ui/file_mask.h"

namespace ui {

namespace {

bool Match(const QString& mask, const QString& name) {
    qsizetype m = 0, n = 0;
    qsizetype star = -1, resume = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == QLatin1Char('?') || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == QLatin1Char('*')) {
            star = m++;
            resume = n;
        } else if (star >= 0) {
            m = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == QLatin1Char('*')) ++m;
    return m == mask.size();
}

}  // namespace

bool MatchesFileMask(const QString& mask, const QString& name) {
    if (name.isEmpty()) return false;
    const QString m = mask.toCaseFolded();
    const QString n = name.toCaseFolded();
    if (Match(m, n)) return true;
    return !n.contains(QLatin1Char('.')) && Match(m, n + QLatin1Char('.'));
}

bool HasWildcards(const QString& text) {
    return text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'));
}

QStringList SplitMasks(const QString& masks) { return masks.split(QLatin1Char(';'), Qt::SkipEmptyParts); }

}  // namespace ui
