#include "sqlite_case.h"

#include <QFile>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>

using meridoc::EntryRecord;
using meridoc::Field;

namespace bench {
namespace {

constexpr std::size_t ChangingRows = 16;

std::uint64_t seedFor(int n) {
    return 0x73716c697465ULL ^ std::uint64_t(n);
}

} // namespace

SqliteCase::SqliteCase(const QString &programDir, int n) : generator_(seedFor(n)) {
    const QByteArray path = QFile::encodeName(programDir + QStringLiteral("entries%1.db").arg(n));
    QFile::remove(QFile::decodeName(path));
    if (sqlite3_open(path.constData(), &db_) != SQLITE_OK)
        throw std::runtime_error("cannot open " + path.toStdString());
    exec("CREATE TABLE entries (id INTEGER PRIMARY KEY, name TEXT, surname TEXT, phone1 TEXT,"
         " phone2 TEXT, comments TEXT)");
    exec("CREATE INDEX entries_by_name ON entries (surname COLLATE NOCASE, name COLLATE NOCASE)");
    insert_ = prepare("INSERT INTO entries (name, surname, phone1, phone2, comments)"
                      " VALUES (?1, ?2, ?3, ?4, ?5)");
    insertWithId_ = prepare("INSERT INTO entries (name, surname, phone1, phone2, comments, id)"
                            " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    update_ = prepare("UPDATE entries SET phone2 = ?1 WHERE id = ?2");
    delete_ = prepare("DELETE FROM entries WHERE id = ?1");
    query_ = prepare("SELECT name, surname, phone1, phone2, comments FROM entries"
                     " WHERE surname LIKE ?1 || '%' ORDER BY surname COLLATE NOCASE,"
                     " name COLLATE NOCASE");

    // Filled in one transaction, unsynced; the measured statements run synced in full.
    exec("PRAGMA synchronous = OFF");
    exec("BEGIN");
    rows_ = sortedEntries(generator_, n);
    for (const EntryRecord &entry : rows_)
        insert(entry);
    exec("COMMIT");
    exec("PRAGMA synchronous = FULL");
    for (std::size_t i = 0; i < ChangingRows; ++i)
        changing_.push_back(randomId());
}

SqliteCase::~SqliteCase() {
    for (sqlite3_stmt *s : {insert_, insertWithId_, update_, delete_, query_})
        sqlite3_finalize(s);
    sqlite3_close(db_);
}

void SqliteCase::exec(const char *sql) {
    char *error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

sqlite3_stmt *SqliteCase::prepare(const char *sql) {
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db_));
    return statement;
}

void SqliteCase::bind(sqlite3_stmt *statement, const EntryRecord &entry) {
    for (int i = 0; i < meridoc::FieldCount; ++i) {
        const QByteArray text = entry.field(static_cast<Field>(i));
        sqlite3_bind_text(statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
}

void SqliteCase::stepDone(sqlite3_stmt *statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(db_));
}

long long SqliteCase::insert(const EntryRecord &entry) {
    bind(insert_, entry);
    stepDone(insert_);
    return sqlite3_last_insert_rowid(db_);
}

void SqliteCase::insertWithId(long long id) {
    bind(insertWithId_, rows_[id - 1]);
    sqlite3_bind_int64(insertWithId_, 6, id);
    stepDone(insertWithId_);
}

void SqliteCase::update() {
    const long long id = changing_[nextChange_];
    nextChange_ = (nextChange_ + 1) % changing_.size();
    EntryRecord &row = rows_[id - 1];
    row = toggledPhone2(row);
    const QByteArray phone2 = row.PHONE2();
    sqlite3_bind_text(update_, 1, phone2.constData(), int(phone2.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(update_, 2, id);
    stepDone(update_);
}

void SqliteCase::remove(long long id) {
    sqlite3_bind_int64(delete_, 1, id);
    stepDone(delete_);
    if (sqlite3_changes(db_) != 1)
        throw std::runtime_error("row to delete not found");
}

long SqliteCase::query() {
    sqlite3_bind_text(query_, 1, "", 0, SQLITE_STATIC);
    long count = 0;
    int rc;
    while ((rc = sqlite3_step(query_)) == SQLITE_ROW) {
        for (int column = 0; column < meridoc::FieldCount; ++column) {
            benchmark::DoNotOptimize(sqlite3_column_text(query_, column));
            benchmark::DoNotOptimize(sqlite3_column_bytes(query_, column));
        }
        ++count;
    }
    sqlite3_reset(query_);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(db_));
    return count;
}

} // namespace bench
