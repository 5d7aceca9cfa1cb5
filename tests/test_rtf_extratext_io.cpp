#include "data/errors.h"
#include "data/extratext_io.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

using meridoc::Exception;
using meridoc::LoadExtraText;
using meridoc::SaveExtraText;

namespace {

QString errorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const Exception &e) {
        return e.message();
    }
    return QString();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

mode_t modeOf(const QString &path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

class ExtraTextIo : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.path() + "/" + name; }
    // Everything in the directory, hidden files included.
    QStringList entries() const {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(ExtraTextIo, SavedTextLoadsBackWithItsFormats) {
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    c.insertText(QStringLiteral("Put extra text here \u00e9"));
    c.insertBlock();
    c.insertText("second", bold);
    const QString file = path(QStringLiteral("Anna Sm\u00efth"));

    SaveExtraText(file, doc);
    EXPECT_TRUE(fileBytes(file).startsWith("{\\rtf1"));
    QTextDocument back;
    LoadExtraText(file, back);
    EXPECT_EQ(back.toPlainText(), QStringLiteral("Put extra text here \u00e9\nsecond"));
    EXPECT_EQ(back.lastBlock().begin().fragment().charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Anna Sm\u00efth")});
}

TEST_F(ExtraTextIo, PlainTextFilesLoadLineByLine) {
    writeFile(path("AnnaSmith"), "first line\r\nsecond \xe9\r\n");
    QTextDocument doc;
    LoadExtraText(path("AnnaSmith"), doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("first line\nsecond \u00e9"));
}

TEST_F(ExtraTextIo, LoadFailuresNameTheirCauseAndLeaveTheDocumentAlone) {
    const QString missing = path("Nobody");
    const QString directory = path("ADirectory");
    QDir().mkdir(directory);
    const QString huge = path("Huge");
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(65 * 1024 * 1024)); // sparse: costs no disk space
    }
    const QString fifo = path("Pipe");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0644);
    const struct {
        QString file;
        QString message;
    } cases[] = {
        {missing, "Cannot open file " + missing},
        // Never waited on, never read without end.
        {fifo, "Cannot open file " + fifo},
        {"/dev/zero", "Cannot open file /dev/zero"},
        {directory, "Cannot open file " + directory},
        // Opens, but reading fails part-way.
        {"/proc/self/mem", "Failed to Load Stream"},
        {huge, "Failed to Load Stream"},
    };
    for (const auto &c : cases) {
        QTextDocument doc;
        doc.setPlainText("kept");
        EXPECT_EQ(errorOf([&] { LoadExtraText(c.file, doc); }), c.message);
        EXPECT_EQ(doc.toPlainText(), "kept");
    }
}

TEST_F(ExtraTextIo, SaveReplacesTheFileWholeAndKeepsItsPermissions) {
    const QString file = path("AnnaSmith");
    writeFile(file, QByteArray(10000, 'x'));
    ::chmod(QFile::encodeName(file).constData(), 0640);
    QTextDocument doc;
    doc.setPlainText("short");

    SaveExtraText(file, doc);
    QTextDocument back;
    LoadExtraText(file, back);
    EXPECT_EQ(back.toPlainText(), "short");
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_EQ(entries(), QStringList{"AnnaSmith"});

    const mode_t mask = ::umask(022);
    SaveExtraText(path("BobJones"), doc);
    ::umask(mask);
    EXPECT_EQ(modeOf(path("BobJones")), 0644u);
}

TEST_F(ExtraTextIo, RefusedPathsGiveCannotCreateAndLeaveNothingBehind) {
    QDir().mkdir(path("Taken"));
    writeFile(path("Taken/inside"), "old");
    const QString noDirectory = path("Anna/Smith"); // a name holding the path separator
    const QString isDirectory = path("Taken");
    QTextDocument doc;
    doc.setPlainText("new");

    EXPECT_EQ(errorOf([&] { SaveExtraText(noDirectory, doc); }),
              "Cannot create file " + noDirectory);
    EXPECT_EQ(errorOf([&] { SaveExtraText(isDirectory, doc); }),
              "Cannot create file " + isDirectory);
    // A read-only file is refused like a read-only card file; a pipe is not a file to replace.
    writeFile(path("ReadOnly"), "old");
    ::chmod(QFile::encodeName(path("ReadOnly")).constData(), 0444);
    ::mkfifo(QFile::encodeName(path("Pipe")).constData(), 0644);
    EXPECT_EQ(errorOf([&] { SaveExtraText(path("ReadOnly"), doc); }),
              "Cannot create file " + path("ReadOnly"));
    EXPECT_EQ(errorOf([&] { SaveExtraText(path("Pipe"), doc); }),
              "Cannot create file " + path("Pipe"));
    EXPECT_EQ(fileBytes(path("ReadOnly")), "old");
    EXPECT_EQ(entries(), (QStringList{"ReadOnly", "Taken"})); // and the pipe
    EXPECT_EQ(fileBytes(path("Taken/inside")), "old");
}

TEST_F(ExtraTextIo, FailedWriteKeepsTheOldFileWhole) {
    const QString file = path("AnnaSmith");
    const QByteArray old = "{\\rtf1 the old text\\par}";
    writeFile(file, old);
    QTextDocument doc;
    doc.setPlainText(QString(100000, 'n'));

    // A file-size limit makes the write fail the way a full disk does.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString error = errorOf([&] { SaveExtraText(file, doc); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(error, "Failed to Save Stream");
    EXPECT_EQ(fileBytes(file), old);
    EXPECT_EQ(entries(), QStringList{"AnnaSmith"});
}
