#pragma once

#include "contact.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

namespace meridoc::cards {

// Limits that keep the memory an import needs independent of the size of its input. They are
// far beyond what any address book writes; an input over them is refused, not cut.
constexpr qsizetype MaxPropertyBytes = 1 << 20; // a vCard property, folded lines joined
constexpr qsizetype MaxFieldBytes = 1 << 20;    // a CSV field
constexpr qsizetype MaxNameCharacters = 1 << 16;
constexpr qsizetype MaxCardBytes = 8 << 20; // a vCard's properties, or a CSV row
// A vCard's properties: each is held with its parts until the card ends (a card of 200,000
// one-word notes took 70 MB); an address book's contact has tens.
constexpr qsizetype MaxCardProperties = 10000;
// A CSV header's columns: each is held with its name in several forms while the layout is
// worked out (100,000 columns took 58 MB); an address book's export has a few hundred.
constexpr qsizetype MaxColumns = 10000;

// A malformed input found while reading it: the line and the reason.
struct InputRefusal {
    int line = 0;
    QString reason;
};

// "1 MiB", "64 KiB": the limits as the messages give them.
QString sizeText(qsizetype bytes);

// The reason a contact's name is refused (longer than MaxNameCharacters), if it is.
std::optional<QString> refusedName(const Contact &contact);

// The text of an input, read a block at a time and never mapped, so a file that shrinks or
// grows while it is read is refused by name instead of ending the program. A UTF-8 byte-order
// mark is skipped and UTF-16 (with its mark) is turned into UTF-8 on the way, so the readers see
// UTF-8 or Windows-1252 bytes. Memory: one block plus the longest line asked for.
class InputText {
public:
    // An input file; only a regular file is read, and opening it never waits (a pipe of that
    // name is refused). Throws Failure naming the file.
    explicit InputText(const QString &fileName);
    // Bytes in memory, read the same way (they must outlive this object).
    explicit InputText(QByteArrayView bytes);
    ~InputText();
    InputText(const InputText &) = delete;
    InputText &operator=(const InputText &) = delete;

    // Up to `n` bytes of text from the start, without consuming them.
    QByteArrayView head(qsizetype n);

    // The next line without its line break ("\n", "\r\n", and with `bareCr` a lone "\r").
    // False after the last line. Throws InputRefusal for a line longer than `limit`, and
    // Failure when the file cannot be read or changes while it is read.
    bool readLine(QByteArray &line, qsizetype limit, bool bareCr = false);
    // The number of the line last read (1-based).
    int lineNumber() const { return number_; }

private:
    bool fill(); // appends a block of text to buffer_; false at the end of the input
    qint64 readRaw(char *out, qint64 max);

    QString fileName_;
    int fd_ = -1;
    qint64 size_ = 0; // of the file when opened
    qint64 mtimeNs_ = 0;
    QByteArrayView memory_;
    qint64 offset_ = 0; // raw bytes consumed
    bool started_ = false;
    std::optional<QStringDecoder> utf16_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    int number_ = 0;
};

} // namespace meridoc::cards
