// The import window: the dry run's report, IMPORT by Enter, CANCEL by Escape, and its errors.
#include "app/import_window.h"
#include "support/scripted_messages.h"
#include "support/windows.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QByteArray Contacts = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;Anna;;;\r\nTEL:(000)555-0199\r\n"
                            "NOTE:a friend\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\n"
                            "N:Adams;Ben;;;\r\nEMAIL:ben@example.org\r\nEND:VCARD\r\n";

struct Row {
    const char *name;
    bool homeCard;     // home (holding Anna Smith) is current; else the seed card file
    QByteArray input;  // the contact file
    const char *keys;  // "Return" or "Escape"; "vanish" removes the file first
    const char *shown; // in the window's label, then in its report, before the keys
    const char *after; // in the window's label after the keys ("" when it closed)
    int entries;       // of home afterwards (1: untouched)
    const char *error; // the error report the keys bring, if any
};

class ImportWindowTest : public ::testing::TestWithParam<Row> {};

TEST_P(ImportWindowTest, ShowsTheReportAndImportsOnlyOnImport) {
    const Row &row = GetParam();
    testsupport::ScriptedMessages boxes;
    if (*row.error)
        boxes.expectError(row.error);
    testsupport::ProgramWindows w =
        row.homeCard
            ? testsupport::ProgramWindows{{{"Anna", "Smith", "(000)555-0199", "", "a friend"}}}
            : testsupport::ProgramWindows{};
    const QByteArray before = w.homeCard();
    w.dir().write("contacts.vcf", row.input);
    ImportWindow window(meridoc::AppState, {w.dir().file("contacts.vcf")});
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto *label = window.findChild<QLabel *>("Label1");
    const QString report =
        label->text() + '\n' + window.findChild<QPlainTextEdit *>("Memo1")->toPlainText();
    EXPECT_TRUE(report.contains(row.shown)) << report.toStdString();
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Memo1");

    const QString keys = row.keys;
    if (keys.startsWith("vanish"))
        QFile::remove(w.dir().file("contacts.vcf"));
    QTest::keyClick(QApplication::focusWidget(),
                    keys.endsWith("Escape") ? Qt::Key_Escape : Qt::Key_Return);
    EXPECT_EQ(window.isVisible(), *row.after != '\0');
    EXPECT_TRUE(label->text().contains(row.after)) << label->text().toStdString();
    if (row.entries == 1)
        EXPECT_EQ(w.homeCard(), before);
    else
        EXPECT_EQ(testsupport::recordsOf(w.homeCard()).size(), row.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ImportWindowTest,
    ::testing::Values(
        Row{"EnterImports", true, Contacts, "Return",
            "Would import 1 contact into home.crd, 1 already there", "Imported 1 contact", 2, ""},
        Row{"EscapeCancels", true, Contacts, "Escape", "Extra text: E-mail: ben@example.org", "", 1,
            ""},
        Row{"LongReportCut", true, Contacts.repeated(260), "Escape",
            "and 20 more contacts, not shown here", "", 1, ""},
        Row{"SeedCardFileTakesNone", false, Contacts, "Return", "seed card file", "", 1, ""},
        Row{"NotAContactFile", true, "\x89PNG\r\n\x1a\n", "Return", "MERIDOC imports vCard files",
            "", 1, ""},
        Row{"FileGoneAtImport", true, Contacts, "vanish Return", "Would import",
            "Nothing can be imported", 1, "contacts.vcf: No such file or directory"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
