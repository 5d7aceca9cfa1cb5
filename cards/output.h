#pragma once

#include "data/files.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>
#include <memory>

namespace meridoc::cards {

// A file written whole or not at all, through files::ReplacementFile staged beside the target,
// with the bytes gathered into large writes. Without commit() the staged file is removed and the
// target stays as it was. Failures throw Failure naming the file.
class AtomicFile {
public:
    explicit AtomicFile(const QString &target);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    void write(QByteArrayView bytes);
    void commit();

private:
    void flush();
    void writeOut(QByteArrayView bytes);

    QString target_;
    std::unique_ptr<files::ReplacementFile> file_;
    QByteArray buffer_;
    qint64 offset_ = 0;
};

// Writes `bytes` as the whole content of `target` through an AtomicFile.
void WriteFileAtomically(const QString &target, const QByteArray &bytes);

// Where a command's result goes: a stream (standard output) or a file written atomically.
class Output {
public:
    explicit Output(std::FILE *stream) : stream_(stream) {}
    explicit Output(const QString &path) : stream_(nullptr), file_(new AtomicFile(path)) {}
    ~Output() { delete file_; }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void write(QByteArrayView bytes);
    // Flushes the stream, or commits the file; throws Failure when the output could not be written.
    void finish();

private:
    std::FILE *stream_;
    AtomicFile *file_ = nullptr;
};

// Bytes gathered for an Output and handed on a large block at a time, written in place by the
// caller: reserve() room, write into it, commit() the end of what was written.
class OutputBuffer {
public:
    explicit OutputBuffer(Output &out);
    OutputBuffer(const OutputBuffer &) = delete;
    OutputBuffer &operator=(const OutputBuffer &) = delete;

    // Room for at least `size` bytes; hands on what was gathered when the rest is too small.
    char *reserve(std::size_t size);
    void commit(char *end) { used_ = std::size_t(end - data_.get()); }
    void append(QByteArrayView bytes);
    // Hands on what was gathered.
    void flush();

private:
    Output &out_;
    std::unique_ptr<char[]> data_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

} // namespace meridoc::cards
