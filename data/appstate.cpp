#include "appstate.h"

#include "configuration.h"
#include "errors.h"
#include "files.h"
#include "inifile.h"
#include "text.h"

namespace meridoc {

QString CardFilePathFor(const QString &baseName) {
    return files::resolve(AppState.ProgramDir, baseName + "." + AppState.CardExtension);
}

QString CardFilePath() {
    return CardFilePathFor(AppState.CurrentFileName);
}

bool SameBaseName(const QString &a, const QString &b) {
    return text::upperAscii(a) == text::upperAscii(b);
}

bool CurrentFileIsSeed() {
    return text::trimmed(text::upperAscii(AppState.CurrentFileName)) == SeedBaseName;
}

QStringList CardFileExtensions() {
    QStringList extensions = {QStringLiteral("CRD")};
    if (!AppState.CardExtension.isEmpty())
        extensions.append(text::upperAscii(AppState.CardExtension));
    if (!AppState.ProgramDir.isEmpty()) {
        try {
            const IniFile ini(files::resolve(AppState.ProgramDir, ConfigFileName));
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

} // namespace meridoc
