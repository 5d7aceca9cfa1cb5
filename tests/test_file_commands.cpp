// The FILE commands driven through the real main window against a real program directory.
#include "app/main_window.h"
#include "app/messages.h"
#include "data/appstate.h"
#include "data/errors.h"
#include "data/inifile.h"
#include "support/program_dir.h"
#include "support/scripted_messages.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace meridoc;
using messages::Kind;
using testsupport::recordBytes;
using testsupport::recordsOf;
using testsupport::ScriptedMessages;
using testsupport::TempProgramDir;

namespace {

const QByteArray Seed = recordBytes(
    {"TANRO", "SYSTEMS", "(000)555-0101", "(000)555-0102", "PC Sales, Repair, Upgrade"});
// Known contents, by the label the tables use for them.
const QList<std::pair<QString, QByteArray>> Contents = {
    {"SEED+", Seed + recordBytes({"X", "Y", "", "", ""})},
    {"HOME",
     recordBytes({"Anna", "Smith", "1", "", ""}, '#') + recordBytes({"Bob", "Tu", "", "", ""})},
    {"WORK", recordBytes({"Carl", "Work", "2", "", ""}, '%')},
    {"TEXT", "{\\rtf1 extra text}"},
};

QByteArray contentOf(const QString &label) {
    for (const auto &[l, bytes] : Contents) {
        if (l == label)
            return bytes;
    }
    ADD_FAILURE() << "no content " << label.toStdString();
    return {};
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

// Every file of the directory but the configuration, as "name=LABEL".
QStringList described(const TempProgramDir &dir) {
    QStringList out;
    for (const QString &name : dir.entries()) {
        if (name == "meridoc.ini")
            continue;
        const QByteArray bytes = dir.read(name);
        QString label = QStringLiteral("?%1").arg(bytes.size());
        if (bytes.size() == 135 && recordsOf(bytes) == recordsOf(Seed))
            label = "SEED";
        for (const auto &[l, known] : Contents) {
            if (bytes == known)
                label = l;
        }
        out.append(name + "=" + label);
    }
    return sorted(out);
}

// Writes "name=LABEL" files, and a configuration naming `defaultFile`.
void populate(const TempProgramDir &dir, const QString &defaultFile, const QStringList &files) {
    dir.write("meridoc.ini",
              "[filenames]\r\nextention=crd\r\ndefaultfile=" + defaultFile.toLatin1() + "\r\n");
    for (const QString &f : files)
        dir.write(f.section('=', 0, 0), contentOf(f.section('=', 1)));
}

QString defaultFile(const TempProgramDir &dir) {
    return IniFile(dir.file("meridoc.ini")).ReadString("filenames", "defaultfile", "ERROR");
}

template <typename T> T *child(const TForm1 &w, const char *name) {
    auto *c = w.findChild<T *>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

bool anyFileControlVisible(const TForm1 &w) {
    for (const char *name : {"MaskEdit2", "FileListBox1", "Button5"}) {
        if (!child<QWidget>(w, name)->isHidden())
            return true;
    }
    return false;
}

QStringList listed(const TForm1 &w) {
    QStringList out;
    const auto *list = child<QListWidget>(w, "FileListBox1");
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

// Chooses the menu command (unless it is on screen already), types the name or selects the listed
// file (none for an empty input), and presses the command's OK button.
void runCommand(TForm1 &w, const QString &menu, const QString &input, bool choose = true) {
    if (choose)
        child<QAction>(w, menu.toLatin1().constData())->trigger();
    const char *ok = menu == "NEW1"      ? "Button4"
                     : menu == "OPEN1"   ? "Button9"
                     : menu == "SAVEAS1" ? "Button11"
                                         : "Button1";
    if (menu == "OPEN1" || menu == "DELETE1") {
        auto *list = child<QListWidget>(w, "FileListBox1");
        if (!input.isEmpty()) {
            const auto found = list->findItems(input, Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1) << input.toStdString();
            found.first()->setSelected(true);
        }
    } else {
        child<QLineEdit>(w, "MaskEdit2")->setText(input);
    }
    child<QPushButton>(w, ok)->click();
}

struct Box {
    Kind kind;
    QString text;
    messages::Button answer;
    bool endsCommand = false; // the standard error report of an error that ends the command
};

const messages::Buttons YesNo = messages::Yes | messages::No;
Box overwrite(messages::Button answer) {
    return {Kind::Warning, "FILE EXISTS - OVERWRITE?", answer};
}
Box makeDefault(Kind kind, messages::Button answer) {
    return {kind, "Make this the default file ?", answer};
}
Box error(const QString &text) {
    return {Kind::Error, text, messages::Ok};
}
Box report(const QString &message) {
    return {Kind::Error, messages::errorReportText(message), messages::Ok, true};
}
Box unableToWrite() {
    return report("Unable to write to %DIR%meridoc.ini");
}
Box confirmDelete(const QString &file, messages::Button answer) {
    return {Kind::Warning,
            "File " + file +
                " will be permanently deleted along with all entries it contains! - Are you sure?",
            answer};
}
const Box AccessDenied = report("File access denied");
const Box SeedTarget =
    error("Cannot use the name of the seed card file tanro.crd: it is written anew at every start");

struct Case {
    const char *label;
    QString start;        // "defaultfile" before the start
    QStringList files;    // card files before the start, "name=LABEL"
    QStringList readOnly; // files made read-only after the start
    QString menu;
    QString input; // typed name, or the listed file to select
    QList<Box> boxes;
    QString current; // CurrentFileName afterwards
    QStringList after;
    QString defaultAfter;
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << c.label;
}

class FileCommand : public ::testing::TestWithParam<Case> {};

TEST_P(FileCommand, DoesWhatItSaysAndNothingElse) {
    const Case &c = GetParam();
    TempProgramDir dir;
    populate(dir, c.start, c.files + QStringList{"AnnaSmith=TEXT"});
    TForm1 w(dir.path());
    dir.write("tanro.crd", contentOf("SEED+")); // only NEW writes the seed card file anew
    for (const QString &f : c.readOnly)
        dir.makeReadOnly(f);
    bool ended = false;
    {
        ScriptedMessages boxes;
        for (Box b : c.boxes) {
            b.text.replace("%DIR%", dir.path());
            ended = ended || b.endsCommand;
            boxes.expect(b.kind, b.text, b.answer, b.kind == Kind::Error ? messages::Ok : YesNo);
        }
        runCommand(w, c.menu, c.input);
    }
    EXPECT_EQ(AppState.CurrentFileName, c.current);
    EXPECT_EQ(w.windowTitle(), "MERIDOC   " + c.current);
    EXPECT_EQ(described(dir), sorted(c.after + QStringList{"AnnaSmith=TEXT"}));
    EXPECT_EQ(defaultFile(dir), c.defaultAfter);
    EXPECT_TRUE(QFile::exists(CardFilePath())) << "the current card file exists";
    EXPECT_FALSE(dir.exists("temp.tmp"));
    if (c.menu == "DELETE1") {
        EXPECT_FALSE(child<QWidget>(w, "FileListBox1")->isHidden());
        QStringList cards = sorted(c.after);
        cards.replaceInStrings(QRegularExpression("=.*"), "");
        EXPECT_EQ(listed(w), cards);
    } else {
        EXPECT_EQ(anyFileControlVisible(w), ended) << "an error leaves the controls on screen";
    }
    // The seed card file, and only it, refuses new entries.
    ScriptedMessages refusal;
    if (CurrentFileIsSeed()) {
        refusal.expect(Kind::Information,
                       "You cannot edit this file. - Open or create a different file.",
                       messages::Ok);
    }
    child<QAction>(w, "Newrecord1")->trigger();
}

// Short names for the boxes of the table below.
const Box OverwriteYes = overwrite(messages::Yes);
const Box OverwriteNo = overwrite(messages::No);
const Box NewDefaultYes = makeDefault(Kind::Warning, messages::Yes);
const Box NewDefaultNo = makeDefault(Kind::Warning, messages::No);
const Box DefaultYes = makeDefault(Kind::Information, messages::Yes);
const Box DefaultNo = makeDefault(Kind::Information, messages::No);
const Box Unwritable = unableToWrite();
const QStringList Home = {"home.crd=HOME"};
const QStringList HomeWork = {"Work.crd=WORK", "home.crd=HOME"};
const QStringList Seed1 = {"tanro.crd=SEED"};  // written anew by NEW
const QStringList Seed2 = {"tanro.crd=SEED+"}; // as it was

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    FileCommands, FileCommand,
    ::testing::Values(
        // label, defaultfile, card files, read-only files, command, typed or selected,
        //     boxes and answers,
        //     CurrentFileName, files, defaultfile afterwards
        Case{"NewHome", "tanro", {}, {}, "NEW1", "home",
             {NewDefaultYes},
             "home", QStringList{"home.CRD=SEED"} + Seed1, "home"},
        Case{"NewCurrentNameInAnotherCase", "home", Home, {}, "NEW1", "Home",
             {OverwriteYes, error("Cannot overwrite current working file!")},
             "HOME", Home + Seed2, "home"},
        Case{"NewOverAnotherFile", "home", HomeWork, {}, "NEW1", "WORK",
             {OverwriteYes, NewDefaultNo},
             "WORK", QStringList{"Work.crd=SEED", "home.crd=HOME"} + Seed1, "home"},
        Case{"NewOverAnotherFileDeclined", "home", HomeWork, {}, "NEW1", "work",
             {OverwriteNo},
             "HOME", HomeWork + Seed2, "home"},
        Case{"NewTanroMakesTheSeedFileCurrent", "home", Home, {}, "NEW1", "TANRO",
             {OverwriteYes, NewDefaultNo},
             "TANRO", Home + Seed1, "home"},
        Case{"NewBlankName", "tanro", {}, {}, "NEW1", "",
             {},
             "TANRO", Seed2, "tanro"},
        Case{"NewOverReadOnlyFile", "home", HomeWork, {"Work.crd"}, "NEW1", "work",
             {OverwriteYes, AccessDenied},
             "HOME", HomeWork + Seed1, "home"},
        Case{"NewDefaultUnwritable", "home", Home, {"meridoc.ini"}, "NEW1", "other",
             {NewDefaultYes, Unwritable},
             "HOME", Home + QStringList{"other.CRD=SEED"} + Seed1, "home"},

        Case{"OpenNothingSelected", "home", HomeWork, {}, "OPEN1", "",
             {},
             "HOME", HomeWork + Seed2, "home"},
        Case{"OpenAsListed", "home", HomeWork, {}, "OPEN1", "Work.crd",
             {DefaultYes},
             "Work", HomeWork + Seed2, "Work"},
        Case{"OpenNameWithTwoDots", "home", {"A.B.crd=WORK", "A.crd=HOME"}, {}, "OPEN1", "A.B.crd",
             {DefaultNo},
             "A.B", QStringList{"A.B.crd=WORK", "A.crd=HOME"} + Seed2, "home"},
        Case{"OpenDefaultUnwritable", "home", HomeWork, {"meridoc.ini"}, "OPEN1", "Work.crd",
             {DefaultYes, Unwritable},
             "HOME", HomeWork + Seed2, "home"},

        Case{"SaveAsCurrentName", "home", Home, {}, "SAVEAS1", "home",
             {OverwriteYes, DefaultNo},
             "home", Home + Seed2, "home"},
        Case{"SaveAsNewName", "home", Home, {}, "SAVEAS1", "Copy1",
             {DefaultYes},
             "Copy1", Home + QStringList{"Copy1.CRD=HOME"} + Seed2, "Copy1"},
        Case{"SaveAsOverAnotherFile", "home", HomeWork, {}, "SAVEAS1", "WORK",
             {OverwriteYes, DefaultNo},
             "WORK", QStringList{"Work.crd=HOME", "home.crd=HOME"} + Seed2, "home"},
        Case{"SaveAsOverReadOnlyFile", "home", HomeWork, {"Work.crd"}, "SAVEAS1", "work",
             {OverwriteYes, AccessDenied},
             "HOME", HomeWork + Seed2, "home"},
        Case{"SaveAsOntoTheSeedFile", "home", Home, {}, "SAVEAS1", "Tanro",
             {OverwriteYes, SeedTarget},
             "HOME", Home + Seed2, "home"},
        Case{"SaveAsDefaultUnwritable", "home", Home, {"meridoc.ini"}, "SAVEAS1", "copy",
             {DefaultYes, Unwritable},
             "copy", Home + QStringList{"copy.CRD=HOME"} + Seed2, "home"},

        Case{"RenameHomeToWork", "home", Home, {}, "RENAME1", "work",
             {},
             "WORK", QStringList{"work.CRD=HOME"} + Seed2, "WORK"},
        Case{"RenameOntoAnotherFile", "home", HomeWork, {}, "RENAME1", "WORK",
             {OverwriteYes},
             "WORK", QStringList{"Work.crd=HOME"} + Seed2, "WORK"},
        Case{"RenameToTheSameName", "home", Home, {}, "RENAME1", "Home",
             {OverwriteYes, error("Cannot rename to the same name!")},
             "HOME", Home + Seed2, "home"},
        Case{"RenameTheSeedFile", "tanro", {}, {}, "RENAME1", "mine",
             {},
             "MINE", {"mine.CRD=SEED+"}, "MINE"},
        Case{"RenameOntoTheSeedFile", "home", Home, {}, "RENAME1", "TANRO",
             {OverwriteYes, SeedTarget},
             "HOME", Home + Seed2, "home"},
        Case{"RenameOntoReadOnlyFile", "home", HomeWork, {"Work.crd"}, "RENAME1", "work",
             {OverwriteYes, AccessDenied},
             "HOME", HomeWork + Seed2, "home"},
        Case{"RenameDefaultUnwritable", "home", Home, {"meridoc.ini"}, "RENAME1", "work",
             {Unwritable},
             "WORK", QStringList{"work.CRD=HOME"} + Seed2, "home"},

        Case{"DeleteTheCurrentFile", "home", HomeWork, {}, "DELETE1", "home.crd",
             {error("Cannot delete current working file!")},
             "HOME", HomeWork + Seed2, "home"},
        Case{"DeleteAnotherFile", "home", HomeWork, {}, "DELETE1", "Work.crd",
             {confirmDelete("Work.crd", messages::Yes)},
             "HOME", Home + Seed2, "home"},
        Case{"DeleteDeclined", "home", HomeWork, {}, "DELETE1", "Work.crd",
             {confirmDelete("Work.crd", messages::No)},
             "HOME", HomeWork + Seed2, "home"},
        Case{"DeleteNothingSelected", "home", HomeWork, {}, "DELETE1", "",
             {},
             "HOME", HomeWork + Seed2, "home"},
        Case{"DeleteReadOnlyFile", "home", HomeWork, {"Work.crd"}, "DELETE1", "Work.crd",
             {confirmDelete("Work.crd", messages::Yes), AccessDenied},
             "HOME", HomeWork + Seed2, "home"}),
    [](const auto &info) { return std::string(info.param.label); });
// clang-format on

TEST(FileCommands, TheListShowsTheCardFilesWithTheirExtension) {
    TempProgramDir dir;
    populate(dir, "tanro", {"home.crd=HOME", "WORK.CRD=WORK", "notes.txt=TEXT", "x.crdx=TEXT"});
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.crd"));
    TForm1 w(dir.path());
    child<QAction>(w, "OPEN1")->trigger();
    EXPECT_EQ(listed(w), (QStringList{"WORK.CRD", "home.crd", "tanro.crd"}));
    dir.write("new.Crd", {});
    child<QAction>(w, "DELETE1")->trigger();
    EXPECT_EQ(listed(w), (QStringList{"WORK.CRD", "home.crd", "new.Crd", "tanro.crd"}));
}

TEST(FileCommands, AFileThatVanishedIsReportedAndChangesNothing) {
    for (const char *menu : {"OPEN1", "SAVEAS1", "RENAME1", "DELETE1"}) {
        SCOPED_TRACE(menu);
        TempProgramDir dir;
        populate(dir, "home", HomeWork);
        TForm1 w(dir.path());
        // OPEN and DELETE list the file before it goes; SAVE AS and RENAME lose the current one.
        const bool listed = QString(menu) == "OPEN1" || QString(menu) == "DELETE1";
        child<QAction>(w, menu)->trigger();
        QFile::remove(dir.file(listed ? "Work.crd" : "home.crd"));
        ScriptedMessages boxes;
        if (QString(menu) == "DELETE1")
            boxes.expect(Kind::Warning, confirmDelete("Work.crd", messages::Yes).text,
                         messages::Yes);
        boxes.expectError("File not found");
        runCommand(w, menu, listed ? "Work.crd" : "other", false);
        EXPECT_EQ(AppState.CurrentFileName, QStringLiteral("HOME"));
        EXPECT_EQ(w.windowTitle(), QStringLiteral("MERIDOC   HOME"));
        EXPECT_FALSE(dir.exists("other.CRD"));
        EXPECT_EQ(defaultFile(dir), QStringLiteral("home"));
    }
}

TEST(FileCommands, AFullDiskLeavesEveryCardFileWhole) {
    TempProgramDir dir;
    QByteArray big;
    for (int i = 0; i < 400; ++i)
        big += recordBytes({"N" + QByteArray::number(i), "S", "", "", ""});
    populate(dir, "home", {"work.crd=WORK"});
    dir.write("home.crd", big);
    TForm1 w(dir.path());
    const QStringList before = described(dir);

    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Warning, "FILE EXISTS - OVERWRITE?", messages::Yes)
            .expectError(EInOutError::messageFor(EInOutError::codeFromErrno(EFBIG)))
            .expect(Kind::Warning, "FILE EXISTS - OVERWRITE?", messages::Yes)
            .expectError(EInOutError::messageFor(EInOutError::codeFromErrno(EFBIG)));
        small.rlim_cur = 4096; // the copy of the current file does not fit
        ::setrlimit(RLIMIT_FSIZE, &small);
        runCommand(w, "SAVEAS1", "work");
        small.rlim_cur = 100; // not even the seed card file fits
        ::setrlimit(RLIMIT_FSIZE, &small);
        runCommand(w, "NEW1", "work");
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(described(dir), before);
    EXPECT_EQ(AppState.CurrentFileName, QStringLiteral("HOME"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("MERIDOC   HOME"));
}

TEST(FileCommands, ADeletedDefaultFileFallsBackToTheSeedFileAtTheNextStart) {
    TempProgramDir dir;
    populate(dir, "work", HomeWork);
    {
        TForm1 w(dir.path());
        ASSERT_EQ(w.windowTitle(), QStringLiteral("MERIDOC   WORK"));
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, "Make this the default file ?", messages::No)
            .expect(Kind::Warning, confirmDelete("Work.crd", messages::Yes).text, messages::Yes);
        runCommand(w, "OPEN1", "home.crd");
        runCommand(w, "DELETE1", "Work.crd");
    }
    TForm1 restarted(dir.path());
    EXPECT_EQ(restarted.windowTitle(), QStringLiteral("MERIDOC   TANRO"));
    EXPECT_EQ(defaultFile(dir), QStringLiteral("work"));
}

// Typed text starts at the first position and has no gaps, wherever the cursor was put.
TEST(FileCommands, TheNameEntryKeepsTypedTextTogether) {
    TempProgramDir dir;
    populate(dir, "tanro", {});
    TForm1 w(dir.path());
    child<QAction>(w, "NEW1")->trigger();
    auto *entry = child<QLineEdit>(w, "MaskEdit2");
    entry->clear();
    entry->setCursorPosition(2);
    QTest::keyClicks(entry, "ab");
    entry->setCursorPosition(5);
    QTest::keyClicks(entry, "c1");
    ScriptedMessages boxes;
    boxes.expect(Kind::Warning, "Make this the default file ?", messages::No);
    child<QPushButton>(w, "Button4")->click();
    EXPECT_EQ(AppState.CurrentFileName, QStringLiteral("abc1"));
    EXPECT_TRUE(dir.exists("abc1.CRD"));
}

TEST(FileCommands, Button1ActsOnlyWhileItsInputIsOnScreen) {
    TempProgramDir dir;
    populate(dir, "home", HomeWork);
    TForm1 w(dir.path());
    child<QAction>(w, "RENAME1")->trigger();
    child<QLineEdit>(w, "MaskEdit2")->setText("other");
    child<QWidget>(w, "MaskEdit2")->hide();
    w.Button1Click();
    child<QAction>(w, "DELETE1")->trigger();
    child<QListWidget>(w, "FileListBox1")
        ->findItems("Work.crd", Qt::MatchExactly)[0]
        ->setSelected(true);
    child<QWidget>(w, "FileListBox1")->hide();
    w.Button1Click(); // no box is expected: nothing happens
    EXPECT_EQ(described(dir), (HomeWork + QStringList{"tanro.crd=SEED"}));
    EXPECT_EQ(AppState.CurrentFileName, QStringLiteral("HOME"));
}

} // namespace
