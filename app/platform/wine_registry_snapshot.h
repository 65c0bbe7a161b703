// RegistrySnapshot through Wine's registry editor, in the logger's own Wine prefix.
//
//   export: wine regedit /E "<file>" "<key>"      import: wine regedit /S "<file>"
//
// Both are waited for without a time limit, as the registry editor is on Windows. Wine takes the
// file as a Unix path. When the logger folder lies in no Wine prefix, or there is no `wine`, nothing
// is run: export reports false and makes no file, import does nothing; LastProblem says which.
//
// An export is written to a scratch file beside the target (locked while regedit runs, so a second
// instance's clean-up leaves it alone) and renamed over it only when the editor ended normally with a
// non-empty result, so an interrupted or failed export never leaves a partial snapshot under the real
// name (it would otherwise be archived and later imported). Wine's regedit ends with exit code 0 even
// when it wrote nothing; then `wine reg query` tells a key that does not exist (nothing to save, no
// problem) from an export that failed.
#pragma once

#include "app/platform/process_runner.h"
#include "app/platform/registry_snapshot.h"

#include <functional>

namespace app::platform {

class WineRegistrySnapshot : public RegistrySnapshot {
public:
    // `loggerFolder` tells, at the time of each call, the logger folder whose prefix holds the keys.
    // `wineProgram` is the `wine` launcher (empty: none available).
    WineRegistrySnapshot(std::function<QString()> loggerFolder, ProcessRunner& runner,
                         QString wineProgram);

    bool ExportKey(const QString& key, const QString& file) override;
    void ImportFile(const QString& file) override;
    QString LastProblem() const override { return problem_; }

private:
    // The run of `wine <arguments>` in the logger's prefix; empty (and problem_ set) when none may run.
    std::optional<RunRequest> WineRun(const QStringList& arguments);
    // problem_ for a run that did not end well; true when it did.
    bool EndedWell(const RunResult& result);

    std::function<QString()> loggerFolder_;
    ProcessRunner& runner_;
    QString wineProgram_;
    QString problem_;
};

}  // namespace app::platform
