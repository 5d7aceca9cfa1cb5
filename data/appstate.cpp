#include "appstate.h"

#include "configuration.h"
#include "errors.h"
#include "files.h"
#include "inifile.h"
#include "text.h"

namespace meridoc {

QString CardFilePath(const ApplicationState &state) {
    return files::resolve(state.ProgramDir, state.CurrentFileName + "." + state.CardExtension);
}

QString CardFilePath() {
    return CardFilePath(AppState);
}

bool SameBaseName(const QString &a, const QString &b) {
    return text::upperAscii(a) == text::upperAscii(b);
}

bool IsSeedBaseName(const QString &baseName) {
    return text::trimmed(text::upperAscii(baseName)) == SeedBaseName;
}

bool CurrentFileIsSeed() {
    return IsSeedBaseName(AppState.CurrentFileName);
}

QStringList CardFileExtensions(const ApplicationState &state) {
    QStringList extensions = {QStringLiteral("CRD")};
    if (!state.CardExtension.isEmpty())
        extensions.append(text::upperAscii(state.CardExtension));
    if (!state.ProgramDir.isEmpty()) {
        try {
            const IniFile ini(files::resolve(state.ProgramDir, ConfigFileName));
            const QString configured = text::upperAscii(
                ini.ReadString(QStringLiteral("filenames"), QStringLiteral("extention"), {}));
            if (!configured.isEmpty())
                extensions.append(configured);
        } catch (const Exception &) {
            // An unreadable configuration names no further extension.
        }
    }
    extensions.removeDuplicates();
    return extensions;
}

QStringList CardFileExtensions() {
    return CardFileExtensions(AppState);
}

} // namespace meridoc
