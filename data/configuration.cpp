#include "configuration.h"

#include "appstate.h"
#include "commitjournal.h"
#include "errors.h"
#include "extratext.h"
#include "files.h"
#include "inifile.h"
#include "text.h"

namespace meridoc {
namespace {

const QString Section = QStringLiteral("filenames");
const QString ExtensionKey = QStringLiteral("extention");
const QString DefaultFileKey = QStringLiteral("defaultfile");
const QString Missing = QStringLiteral("ERROR");

// Writes `bytes` as the whole new content of `name` in the program directory, through a
// temporary file and an atomic rename, so the old content stays whole if writing fails.
void writeWholeFile(const QString &name, const QByteArray &bytes, files::Link link) {
    files::DirectoryLock lock(AppState.ProgramDir);
    const QString target = files::resolve(AppState.ProgramDir, name);
    files::ReplacementFile file(target, files::newFileMode(0644), {files::Staging::TempTmp, link});
    file.file().writeAt(bytes.constData(), bytes.size(), 0);
    file.commit();
}

// A configured name that cannot name a file inside the program directory is treated as missing.
bool isPlainName(const QString &name) {
    return !name.contains('/') && !name.contains(QChar(0)) && name != "." && name != "..";
}

} // namespace

EntryRecord SeedEntry() {
    return EntryRecord::fromFields(
        {"TANRO", "SYSTEMS", "(000)555-0101", "(000)555-0102", "PC Sales, Repair, Upgrade"});
}

void WriteSeedCardFile() {
    const EntryRecord seed = SeedEntry();
    for (int i = 0; i < FieldCount; ++i)
        DroppedEntry.setField(static_cast<Field>(i), seed.field(static_cast<Field>(i)));
    // A file of its own: a link there (to a card file of the user's, say) is replaced, never
    // written through.
    writeWholeFile(
        SeedCardFileName,
        QByteArray(reinterpret_cast<const char *>(DroppedEntry.bytes.data()), EntryRecord::Size),
        files::Link::Replace);
}

void CreateDefaultConfiguration() {
    writeWholeFile(ConfigFileName, "\r\n[filenames]\r\nextention=crd\r\ndefaultfile=tanro\r\n\r\n",
                   files::Link::Follow);
}

void WriteDefaultFile(const QString &name) {
    files::DirectoryLock lock(AppState.ProgramDir);
    IniFile ini(files::resolve(AppState.ProgramDir, ConfigFileName));
    ini.WriteString(Section, DefaultFileKey, name);
}

void LoadConfiguration(const QString &programDir) {
    AppState.ProgramDir = programDir;
    // What a run killed part-way left: its step finished (or undone), then its staged files.
    try {
        FinishInterruptedCommit(AppState.ProgramDir, false);
    } catch (const Exception &) { // left for a later run, which reports it
    }
    files::removeStaleStagedFiles(AppState.ProgramDir);
    WriteSeedCardFile();
    if (!files::fileExists(AppState.ProgramDir, ConfigFileName))
        CreateDefaultConfiguration();
    ReadConfiguration();
}

ApplicationState ReadConfiguration(const QString &programDir) {
    ApplicationState state{programDir, {}, {}};
    const IniFile ini(files::resolve(programDir, ConfigFileName));
    state.CardExtension = text::upperAscii(ini.ReadString(Section, ExtensionKey, Missing));
    state.CurrentFileName = text::upperAscii(ini.ReadString(Section, DefaultFileKey, Missing));

    // A program file ("txtview.exe", "readme.txt") is never taken for a card file: writing
    // records over it would destroy it.
    const QString cardFile = state.CurrentFileName + "." + state.CardExtension;
    if (!isPlainName(state.CardExtension) || !isPlainName(state.CurrentFileName) ||
        IsProgramFileName(programDir, cardFile) || !files::fileExists(programDir, cardFile)) {
        state.CurrentFileName = SeedBaseName;
        state.CardExtension = QStringLiteral("CRD");
    }
    return state;
}

void ReadConfiguration() {
    AppState = ReadConfiguration(AppState.ProgramDir);
}

} // namespace meridoc
