#pragma once

#include "card_case.h"
#include "sqlite_case.h"

#include <QTemporaryDir>

#include <map>
#include <memory>

class TForm2;

namespace bench {

// The benchmark's program directory, made fresh for the run and removed at its end, and what
// lies in it: one card file and one database per size, made the first time a benchmark asks
// for them, and the program's windows over the largest card file.
class Workspace {
public:
    Workspace();
    ~Workspace();

    QString dir() const; // ends with '/'
    CardCase &card(int n);
    SqliteCase &sqlite(int n);
    // The search/edit window over this directory with the card file of `n` entries as the
    // default file, shown for a search that lists every entry.
    TForm2 &searchWindow(int n);

private:
    QTemporaryDir dir_;
    std::map<int, std::unique_ptr<CardCase>> cards_;
    std::map<int, std::unique_ptr<SqliteCase>> databases_;
    std::unique_ptr<TForm2> form2_;
};

} // namespace bench
