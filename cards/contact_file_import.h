#pragma once

#include "data/appstate.h"

#include <QString>
#include <QStringList>

namespace meridoc::cards {

// What importing contact files into a card file did, or with a dry run would do, in the words
// the windows show.
struct ContactFileReport {
    QString error;           // why nothing was (or would be) imported; empty when it went through
    bool unreadable = false; // the error is that of a contact file, which could not be read
    QString summary;         // "Would import 3 contacts into HOME.CRD, 1 already there, ..."
    QString details;         // each contact: its entry and what happens to it, a paragraph each
    qint64 notShown = 0;     // contacts past the first ShownContacts, left out of `details`
    qint64 contacts = 0;     // read from the files
    qint64 added = 0;        // that are not in the card file yet
};

// The report describes at most this many contacts, so that its memory stays bounded as the
// import's own does, whatever the number of contacts.
inline constexpr qint64 ShownContacts = 500;

// Imports the contacts of `files` (vCard or CSV) into the card file `cardFile` names (its folder,
// extension and base name) with the import code of meridoc-cards; with `dryRun` only reports
// what the import would do and writes nothing. Never throws: a failure is reported in `error`.
ContactFileReport ImportContactFiles(const ApplicationState &cardFile, const QStringList &files,
                                     bool dryRun);

} // namespace meridoc::cards
