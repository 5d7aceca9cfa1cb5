// PRINT on real results through a real CUPS scheduler. The CTest fixture (tests/print) makes a
// PDF-writing queue the default printer; the listing is read back from the PDF it writes.

#include "support/scripted_messages.h"
#include "support/windows.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QProcess>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

// Readable texts in the failure messages.
void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace meridoc;
using testsupport::Fields;
using testsupport::ProgramWindows;
using testsupport::ScriptedMessages;
using testsupport::TempProgramDir;

namespace {

QPushButton *printButton(ProgramWindows &program) {
    return program.search<QPushButton>("Button1");
}

QString stateFile(const char *name) {
    const QByteArray dir = qgetenv("PRINT_TEST_STATE_DIR");
    QFile f(QString::fromLocal8Bit(dir) + '/' + name);
    if (dir.isEmpty() || !f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

QSet<QString> pdfsIn(const QString &dir) {
    const QStringList names = QDir(dir).entryList({"*.pdf"}, QDir::Files);
    return {names.begin(), names.end()};
}

QString pdfText(const QString &pdf) {
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Waits for the PDF that a print job has produced and returns its text: one string per page, one
// string per line, with the runs of blanks between the columns made single.
QList<QStringList> awaitPrintedPages(const QString &dir, const QSet<QString> &before) {
    const QDateTime deadline = QDateTime::currentDateTime().addSecs(90);
    while (QDateTime::currentDateTime() < deadline) {
        const QSet<QString> now = pdfsIn(dir);
        for (const QString &name : now - before) {
            // The file is complete once its text can be read and its size has stopped changing.
            const QString path = dir + '/' + name;
            const qint64 size = QFileInfo(path).size();
            QThread::msleep(300);
            if (size == 0 || QFileInfo(path).size() != size)
                continue;
            const QString text = pdfText(path);
            if (text.isEmpty())
                continue;
            QFile::remove(path);
            QList<QStringList> pages;
            for (const QString &page : text.split('\f', Qt::SkipEmptyParts)) {
                QStringList lines;
                for (QString line : page.split('\n')) {
                    line = line.simplified();
                    if (!line.isEmpty())
                        lines.append(line);
                }
                if (!lines.isEmpty())
                    pages.append(lines);
            }
            return pages;
        }
        QThread::msleep(200);
    }
    ADD_FAILURE() << "no PDF appeared in " << dir.toStdString();
    return {};
}

const QString Header = "NAME SURNAME PHONE1 PHONE2 COMMENTS";
const QString Rule = QString(9, '-') + ' ' + QString(16, '-') + ' ' + QString(13, '-') + ' ' +
                     QString(13, '-') + ' ' + QString(19, '-');

Fields person(int n) {
    const QByteArray s = QByteArray::number(n).rightJustified(3, '0');
    return {"Ann" + s, "MILLER" + s, "555-" + s, "01-" + s, "comment number " + s};
}

QString personLine(int n) {
    const Fields f = person(n);
    return QStringList{QString::fromLatin1(f[0]), QString::fromLatin1(f[1]),
                       QString::fromLatin1(f[2]), QString::fromLatin1(f[3]),
                       QString::fromLatin1(f[4])}
        .join(' ');
}

class PrintOnTheDefaultPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        pdfDir_ = stateFile("pdf-dir");
        ASSERT_FALSE(pdfDir_.isEmpty())
            << "run through CTest, whose print fixture starts CUPS with a PDF queue";
        ASSERT_FALSE(QPrinterInfo::defaultPrinter().isNull());
        QDir().mkpath(pdfDir_);
        before_ = pdfsIn(pdfDir_);
    }

    QList<QStringList> print(ProgramWindows &program) {
        ScriptedMessages noBoxes;
        EXPECT_FALSE(printButton(program)->isHidden());
        printButton(program)->click();
        return awaitPrintedPages(pdfDir_, before_);
    }

    QString pdfDir_;
    QSet<QString> before_;
};

} // namespace

TEST_F(PrintOnTheDefaultPrinter, PrintsTheResultsInGridOrder) {
    ProgramWindows program(
        {person(1), person(2), person(3), {"Bob", "NOLAN", "", "", "not listed"}});
    program.searchFor("MIL");
    ASSERT_EQ(program.grid().rowCount(), 4);

    const QList<QStringList> pages = print(program);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0], (QStringList{Header, Rule, personLine(1), personLine(2), personLine(3)}));
}

TEST_F(PrintOnTheDefaultPrinter, ALongCommentIsNotCutOffAtTheRightEdge) {
    const QByteArray comment = "WIDE WORDS WRAP WHOLLY WITHIN WIDTH WHEN WE WRITE!";
    ASSERT_EQ(comment.size(), 50);
    ProgramWindows program({{"Wanda", "WOODWARD", "", "", comment}});
    program.searchFor("");
    const QList<QStringList> pages = print(program);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0],
              (QStringList{Header, Rule, "Wanda WOODWARD " + QString::fromLatin1(comment)}));
}

TEST_F(PrintOnTheDefaultPrinter, PrintsTheNoMatchRow) {
    ProgramWindows program({person(1)});
    program.searchFor("ZZ");
    const QList<QStringList> pages = print(program);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0], (QStringList{Header, Rule, "No matching entries found."}));
}

TEST_F(PrintOnTheDefaultPrinter, ALongListGoesOnOntoFurtherPages) {
    constexpr int Count = 150;
    QByteArray card;
    for (int n = 1; n <= Count; ++n)
        card += testsupport::recordBytes(person(n));
    ProgramWindows program({});
    program.dir().write("home.crd", card);
    program.searchFor("");
    ASSERT_EQ(program.grid().rowCount(), Count + 1);

    const QList<QStringList> pages = print(program);
    ASSERT_GE(pages.size(), 3);
    QStringList rows;
    for (const QStringList &page : pages) {
        ASSERT_GE(page.size(), 3);
        EXPECT_EQ(page[0], Header);
        EXPECT_EQ(page[1], Rule);
        rows += page.mid(2);
    }
    QStringList expected;
    for (int n = 1; n <= Count; ++n)
        expected.append(personLine(n));
    EXPECT_EQ(rows, expected);
}

// Run with CUPS_SERVER naming a scheduler that does not exist, so there is no default printer.
TEST(NoDefaultPrinter, PrintShowsTheErrorAndNothingElse) {
    ASSERT_TRUE(QPrinterInfo::defaultPrinter().isNull()) << "a default printer is reachable";
    ProgramWindows program({person(1)});
    program.searchFor("");
    ScriptedMessages boxes;
    boxes.expectError("There is no default printer currently selected");
    printButton(program)->click();
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(program.form2().isVisible());
}

TEST(PrintButton, IsShownWithTheResultsOnly) {
    ProgramWindows program({person(1)});
    EXPECT_TRUE(printButton(program)->isHidden()) << "hidden at creation";
    program.searchFor("");
    EXPECT_FALSE(printButton(program)->isHidden()) << "START SEARCH";
    program.form2().HideResultControls();
    EXPECT_TRUE(printButton(program)->isHidden()) << "HideResultControls";
    program.form2().ShowResultControls();
    EXPECT_FALSE(printButton(program)->isHidden()) << "ShowResultControls";
    program.trigger("Newrecord1");
    EXPECT_TRUE(printButton(program)->isHidden()) << "NEW RECORD";
}
