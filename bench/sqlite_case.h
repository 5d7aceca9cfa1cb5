#pragma once

#include "entries.h"

#include "data/entryrecord.h"

#include <QString>

#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace bench {

// The same address book kept the way peer address books keep theirs: an SQLite database with one
// table of entries and an index on surname and name, every change its own transaction, synced
// in full (synchronous=FULL, default rollback journal). The connection stays open throughout, as
// such a program keeps it.
class SqliteCase {
public:
    SqliteCase(const QString &programDir, int n);
    ~SqliteCase();
    SqliteCase(const SqliteCase &) = delete;
    SqliteCase &operator=(const SqliteCase &) = delete;

    meridoc::EntryRecord freshEntry() { return generator_.next(); }
    // The row id of one of the rows the table holds, chosen at random.
    long long randomId() { return (long long)(generator_.below(rows_.size())) + 1; }

    // INSERT of one row; returns its id.
    long long insert(const meridoc::EntryRecord &entry);
    // INSERT of a row under a given id (puts a deleted row back).
    void insertWithId(long long id);
    // UPDATE of one row: PHONE2 back and forth between two versions, row after row of a few
    // picked at random.
    void update();
    // DELETE of one row.
    void remove(long long id);
    // The prefix query of a search by surname with an empty prefix: every row in surname and name
    // order. Returns the row count.
    long query();

private:
    void exec(const char *sql);
    sqlite3_stmt *prepare(const char *sql);
    void bind(sqlite3_stmt *statement, const meridoc::EntryRecord &entry);
    void stepDone(sqlite3_stmt *statement);

    EntryGenerator generator_;
    std::vector<meridoc::EntryRecord> rows_; // row i has id i + 1
    std::vector<long long> changing_;
    std::size_t nextChange_ = 0;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
    sqlite3_stmt *insertWithId_ = nullptr;
    sqlite3_stmt *update_ = nullptr;
    sqlite3_stmt *delete_ = nullptr;
    sqlite3_stmt *query_ = nullptr;
};

} // namespace bench
