#include "appstate.h"

#include "files.h"
#include "text.h"

namespace meridoc {

QString CardFilePathFor(const QString &baseName) {
    return files::resolve(AppState.ProgramDir, baseName + "." + AppState.CardExtension);
}

QString CardFilePath() {
    return CardFilePathFor(AppState.CurrentFileName);
}

QString TempFilePath() {
    return files::resolve(AppState.ProgramDir, QStringLiteral("temp.tmp"));
}

bool SameBaseName(const QString &a, const QString &b) {
    return text::upperAscii(a) == text::upperAscii(b);
}

bool CurrentFileIsSeed() {
    return text::trimmed(text::upperAscii(AppState.CurrentFileName)) == SeedBaseName;
}

} // namespace meridoc
