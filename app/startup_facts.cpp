// Start-up facts; see startup_facts.h.
#include "app/startup_facts.h"

#include "app/backup_layout.h"
#include "app/logger_folder.h"
#include "archive/fs/fs.h"
#include "ui/form_placement.h"
#include "ui/form_store.h"
#include "ui/settings_form_store.h"

namespace app {

StartupFacts WorkOutStartupFacts(const QStringList& arguments, const QString& currentDir, const QString& pathVariable,
                                 const QString& resolvedPath) {
    StartupFacts facts;
    facts.executablePath = StartedExecutablePath(arguments.value(0), currentDir, pathVariable, resolvedPath);
    facts.loggerFolder = LoggerFolderFromText(ExecutableFolder(facts.executablePath));
    facts.rememberedBackupFolder = RememberedBackupFolder();
    return facts;
}

QString RememberedBackupFolder() {
    const QString home = QString::fromStdString(archive::fs::HomeDirectory());
    ui::SettingsFormStore store;
    try {
        store.Open(ui::TFormPlacement::DefaultStorageKey(), false);
        const QString folder =
            ui::ReadString(store, QString::fromLatin1(kFormSection), QString::fromLatin1(kSelectedPathName), home);
        store.Close();
        return folder;
    } catch (const std::exception&) {
        store.Close();
        return home;
    }
}

}  // namespace app
