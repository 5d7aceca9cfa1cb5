#pragma once

#include "contact.h"

#include "data/appstate.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <stdexcept>

// The commands of the companion command-line tool, callable without its argument parsing.
namespace meridoc::cards {

// Where a command works and where it reports. Commands hand the folder and the card file to the
// data layer's operations explicitly; the program-wide AppState is the windows' and stays unused.
struct CommandContext {
    QString programDir;   // the program folder, ending with '/'
    QString cardBaseName; // base name of the card file worked on
    QString extension;    // the configured card-file extension, without the dot
    std::FILE *out = stdout;
    std::FILE *err = stderr;
    bool progress = false; // stderr is a terminal: long runs show a progress line

    // The folder, extension and card file, as the data layer's operations take them.
    ApplicationState folder() const { return {programDir, extension, cardBaseName}; }
    // The card file worked on, resolved in the folder without regard to letter case.
    QString cardFile() const { return CardFilePath(folder()); }
};

// A command that cannot be carried out (exit status 1). `file` and `line` name the place in an
// input file when there is one; the tool prints "meridoc-cards: FILE:LINE: reason".
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString &reason, const QString &file = {}, int line = 0)
        : std::runtime_error(reason.toStdString()), reason_(reason), file_(file), line_(line) {}
    QString reason() const { return reason_; }
    QString file() const { return file_; }
    int line() const { return line_; }

private:
    QString reason_;
    QString file_;
    int line_;
};

// One contact of an import's report.
struct ReportedContact {
    QString file;              // as the request names it
    int line = 0;              // where the contact starts
    QString who;               // its name as the source gives it
    QStringList fields;        // the entry made of it: NAME, SURNAME, PHONE1, PHONE2, COMMENTS
    bool alreadyThere = false; // the card file holds that entry already: it is not added
    QStringList remarks;       // what its record lost, shares with another contact or replaces
    QStringList extraText;     // the lines its extra text gets
};

// The report of an import as data, for a caller that shows it itself: `contact` is handed each
// contact in input order, then the counts are filled.
struct ImportReport {
    std::function<void(const ReportedContact &)> contact;
    QString summary;     // the summary the tool prints ("would import 2 contacts into ...")
    qint64 contacts = 0; // read from the files
    qint64 added = 0;    // not in the card file yet
    qint64 alreadyThere = 0;
    qint64 extraTexts = 0; // contacts whose details go to an extra text
    qint64 replaced = 0;   // entries replaced (update)
};

struct ImportRequest {
    QStringList files; // vCard or CSV files, told apart by their content
    CsvMap map;        // --map FIELD="Header" overrides for CSV files
    bool dryRun = false;
    // A contact whose NAME and SURNAME name exactly one entry replaces that entry.
    bool update = false;
    // When set, the report goes here instead of being printed.
    ImportReport *report = nullptr;
    // The vCards stay whole in a sync folder: what their records cannot hold is not lost.
    bool vCardsKept = false;
};

// Imports every contact of the files into the card file, all or nothing: the card file is
// written once, through temp.tmp and a rename, and the extra texts only when it was. Reports a
// summary and every contact that lost anything from its record (on ctx.err; with dryRun, the
// full report on ctx.out and nothing written). Throws Failure.
void RunImport(const CommandContext &ctx, const ImportRequest &request);
// What a run killed part-way left in the program folder: its step finished, or undone when its
// card file was not replaced; then the files it staged. The caller holds the folder's lock.
// Throws Failure.
void FinishKilledRun(const CommandContext &ctx);

} // namespace meridoc::cards
