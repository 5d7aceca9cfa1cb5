#include "data/appstate.h"
#include "data/cardfiles.h"
#include "data/errors.h"
#include "data/files.h"
#include "support/program_dir.h"

#include <QDir>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace meridoc;
using testsupport::TempProgramDir;

namespace {

// A directory's files as "name=content", with "(ro)" after a read-only one.
QStringList contents(const TempProgramDir &dir) {
    QStringList out;
    for (const QString &name : dir.entries()) {
        out.append(name + "=" + dir.read(name) + (files::isReadOnly(dir.file(name)) ? "(ro)" : ""));
    }
    return out;
}

struct Case {
    const char *label;
    QStringList before; // "name=content", "(ro)" at the end makes it read-only
    std::function<void()> operation;
    int error;              // the EInOutError code expected, 0 for none
    QStringList after = {}; // empty: as before
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << c.label;
}

class CardFileOperation : public ::testing::TestWithParam<Case> {};

TEST_P(CardFileOperation, ReplacesWholeOrNotAtAll) {
    const Case &c = GetParam();
    TempProgramDir dir;
    dir.useCardFile("HOME");
    for (QString f : c.before) {
        const bool readOnly = f.endsWith("(ro)");
        f.chop(readOnly ? 4 : 0);
        if (f.endsWith('/')) {
            ASSERT_TRUE(QDir(dir.path()).mkdir(f.chopped(1)));
            continue;
        }
        dir.write(f.section('=', 0, 0), f.section('=', 1).toLatin1());
        if (readOnly)
            dir.makeReadOnly(f.section('=', 0, 0));
    }
    const QStringList before = contents(dir);
    int code = 0;
    try {
        c.operation();
    } catch (const EInOutError &e) {
        code = e.code();
    }
    EXPECT_EQ(code, c.error);
    EXPECT_EQ(contents(dir), c.after.isEmpty() ? before : c.after);
}

// What the file commands rely on beyond the cases they show the user.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    CardFiles, CardFileOperation,
    ::testing::Values(
        Case{"CopyOntoItselfInAnotherSpelling", {"home.crd=A"},
             [] { CopyCardFile("home.crd", "Home.CRD"); }, 0},
        Case{"CopyKeepsTheReadOnlyMark", {"home.crd=A(ro)"},
             [] { CopyCardFile("home.crd", "w.crd"); }, 0, {"home.crd=A(ro)", "w.crd=A(ro)"}},
        Case{"MoveOfAReadOnlyFile", {"home.crd=A(ro)"},
             [] { MoveCardFile("home.crd", "w.crd"); }, 0, {"w.crd=A(ro)"}},
        Case{"CopyOverADirectory", {"home.crd=A", "work.crd/"},
             [] { CopyCardFile("home.crd", "work.crd"); }, ioerror::AccessDenied},
        Case{"MoveOverADirectory", {"home.crd=A", "work.crd/"},
             [] { MoveCardFile("home.crd", "work.crd"); }, ioerror::AccessDenied},
        Case{"CopyOutsideTheDirectory", {"home.crd=A"},
             [] { CopyCardFile("home.crd", "../x.crd"); }, ioerror::PathNotFound},
        Case{"CopyFromAPipeIsRefusedAtOnce", {"home.crd=A"},
             [] { const QByteArray pipe = QFile::encodeName(AppState.ProgramDir + "p.crd");
                  ::mkfifo(pipe.constData(), 0644);
                  const auto removed = qScopeGuard([&] { ::unlink(pipe.constData()); });
                  CopyCardFile("p.crd", "w.crd"); }, ioerror::AccessDenied},
        Case{"DeleteADirectory", {"work.crd/"},
             [] { DeleteCardFile("work.crd"); }, ioerror::AccessDenied}),
    [](const auto &info) { return std::string(info.param.label); });
// clang-format on

} // namespace
