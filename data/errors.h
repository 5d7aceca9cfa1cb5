#pragma once

#include <QString>
#include <stdexcept>

namespace meridoc {

// Base of every error the program reports to the user: an error object carrying a message text.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message);
    QString message() const { return message_; }

private:
    QString message_;
};

// The runtime's input/output error: a numeric code with its standard message.
class EInOutError : public Exception {
public:
    explicit EInOutError(int code);
    int code() const { return code_; }

    // "File not found" for 2, "File access denied" for 5, ... "I/O error %d" otherwise; a code
    // made from an unlisted errno value adds the system's description of it.
    static QString messageFor(int code);
    // Maps an errno value onto the runtime's error codes. A value the mapping does not list
    // becomes ioerror::ErrnoBase + errno, outside every code the runtime itself uses.
    static int codeFromErrno(int err);
    // Throws the error that corresponds to errno.
    [[noreturn]] static void raiseFromErrno(int err);

private:
    int code_;
};

// Runtime error codes used across the data layer.
namespace ioerror {
constexpr int FileNotFound = 2;
constexpr int PathNotFound = 3;
constexpr int TooManyOpenFiles = 4;
constexpr int AccessDenied = 5;
constexpr int ReadBeyondEnd = 100;
constexpr int DiskFull = 101;
constexpr int ErrnoBase = 10000;
} // namespace ioerror

} // namespace meridoc
