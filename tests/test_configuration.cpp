#include "data/appstate.h"
#include "data/configuration.h"
#include "data/errors.h"
#include "data/inifile.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <cstdlib>

using namespace meridoc;
using testsupport::cardFileBytes;
using testsupport::recordBytes;
using testsupport::TempProgramDir;

namespace {
const QByteArray DefaultIni = "\r\n[filenames]\r\nextention=crd\r\ndefaultfile=tanro\r\n\r\n";
const QByteArray SeedBytes = recordBytes(
    {"TANRO", "SYSTEMS", "(000)555-0101", "(000)555-0102", "PC Sales, Repair, Upgrade"});
} // namespace

TEST(Configuration, FirstStartInAnEmptyDirectory) {
    TempProgramDir dir;
    LoadConfiguration(dir.path());
    EXPECT_EQ(dir.entries(), (QStringList{"meridoc.ini", "tanro.crd"}));
    EXPECT_EQ(dir.read("meridoc.ini"), DefaultIni);
    const QByteArray seed = dir.read("tanro.crd");
    ASSERT_EQ(seed.size(), 135);
    // The bytes after each field's characters have no meaning; compare the fields.
    EXPECT_EQ(testsupport::recordsOf(seed), testsupport::recordsOf(SeedBytes));
    EXPECT_EQ(AppState.ProgramDir, dir.path());
    EXPECT_EQ(AppState.CurrentFileName, QStringLiteral("TANRO"));
    EXPECT_EQ(AppState.CardExtension, QStringLiteral("CRD"));
}

TEST(Configuration, TheSeedCardFileIsWrittenAnewAtEveryStart) {
    TempProgramDir dir;
    dir.write("TANRO.CRD", SeedBytes + recordBytes({"X", "Y", "", "", ""}) + "junk");
    LoadConfiguration(dir.path());
    EXPECT_EQ(dir.entries(), (QStringList{"TANRO.CRD", "meridoc.ini"}));
    EXPECT_EQ(testsupport::recordsOf(dir.read("TANRO.CRD")), testsupport::recordsOf(SeedBytes));
    EXPECT_EQ(dir.read("TANRO.CRD").size(), 135);
}

struct ConfigCase {
    const char *name;
    QByteArray ini;
    QStringList cardFiles;
    QString expectedName;
    QString expectedExtension;
};

class ConfigVariants : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigVariants, ChooseTheCurrentCardFile) {
    TempProgramDir dir;
    dir.write("meridoc.ini", GetParam().ini);
    for (const QString &f : GetParam().cardFiles)
        dir.write(f, {});
    LoadConfiguration(dir.path());
    EXPECT_EQ(AppState.CurrentFileName, GetParam().expectedName);
    EXPECT_EQ(AppState.CardExtension, GetParam().expectedExtension);
    EXPECT_TRUE(dir.exists("tanro.crd") || dir.exists("TANRO.CRD"));
    EXPECT_EQ(dir.read("meridoc.ini"), GetParam().ini); // reading never changes the file
}

INSTANTIATE_TEST_SUITE_P(
    Configuration, ConfigVariants,
    ::testing::Values(ConfigCase{"abc_home",
                                 "[filenames]\nextention=abc\ndefaultfile=home\n",
                                 {"HOME.ABC"},
                                 "HOME",
                                 "ABC"},
                      ConfigCase{"abc_home_lowercase_file",
                                 "[filenames]\nextention=abc\ndefaultfile=home\n",
                                 {"home.abc"},
                                 "HOME",
                                 "ABC"},
                      ConfigCase{"abc_home_missing",
                                 "[filenames]\nextention=abc\ndefaultfile=home\n",
                                 {},
                                 "TANRO",
                                 "CRD"},
                      ConfigCase{"no_extension_key",
                                 "[filenames]\ndefaultfile=home\n",
                                 {"HOME.CRD", "home.ERROR"},
                                 "HOME",
                                 "ERROR"},
                      ConfigCase{"no_extension_key_no_file",
                                 "[filenames]\ndefaultfile=home\n",
                                 {"HOME.CRD"},
                                 "TANRO",
                                 "CRD"},
                      ConfigCase{"keys_in_other_case",
                                 "[FileNames]\r\nExtention = crd \r\nDefaultFile=  Work\r\n",
                                 {"WORK.CRD"},
                                 "WORK",
                                 "CRD"},
                      ConfigCase{"value_after_first_equals",
                                 "[filenames]\nextention=crd\ndefaultfile=a=b\n",
                                 {"A=B.CRD"},
                                 "A=B",
                                 "CRD"},
                      ConfigCase{"other_section_only",
                                 "[other]\nextention=abc\ndefaultfile=home\n",
                                 {"HOME.ABC"},
                                 "TANRO",
                                 "CRD"},
                      ConfigCase{"path_outside_the_directory",
                                 "[filenames]\nextention=crd\ndefaultfile=../x\n",
                                 {},
                                 "TANRO",
                                 "CRD"},
                      ConfigCase{"help_viewer",
                                 "[filenames]\nextention=exe\ndefaultfile=txtview\n",
                                 {"txtview.exe"},
                                 "TANRO",
                                 "CRD"},
                      ConfigCase{"readme",
                                 "[filenames]\nextention=TXT\ndefaultfile=readme\n",
                                 {"readme.txt"},
                                 "TANRO",
                                 "CRD"},
                      ConfigCase{"empty_file", "", {}, "TANRO", "CRD"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Configuration, AMissingConfigurationFileIsCreatedOnlyThen) {
    TempProgramDir dir;
    dir.write("MERIDOC.INI", "[filenames]\nextention=crd\ndefaultfile=home\n");
    dir.write("home.crd", {});
    LoadConfiguration(dir.path());
    EXPECT_FALSE(dir.exists("meridoc.ini"));
    EXPECT_EQ(AppState.CurrentFileName, QStringLiteral("HOME"));
}

TEST(Configuration, WriteDefaultFileKeepsEverythingElse) {
    TempProgramDir dir;
    const QByteArray before = "; my notes\r\n[other]\r\nkey=1\r\n\r\n[filenames]\r\n"
                              "extention=crd\r\ndefaultfile=tanro\r\n; trailing comment\r\n";
    dir.write("meridoc.ini", before);
    WriteDefaultFile("Home");
    QByteArray expected = before;
    expected.replace("defaultfile=tanro", "defaultfile=Home");
    EXPECT_EQ(dir.read("meridoc.ini"), expected);
    // The key line keeps its own spelling and the blanks around the value.
    dir.write("meridoc.ini", "[FileNames]\nDefaultFile = Work \nx=1");
    WriteDefaultFile("Home");
    EXPECT_EQ(dir.read("meridoc.ini"), QByteArray("[FileNames]\nDefaultFile = Home \nx=1"));
}

TEST(Configuration, WriteDefaultFileAddsAMissingKeyOrSection) {
    TempProgramDir dir;
    dir.write("meridoc.ini", "[filenames]\nextention=crd\n\n[other]\nx=1");
    WriteDefaultFile("work");
    EXPECT_EQ(dir.read("meridoc.ini"),
              QByteArray("[filenames]\nextention=crd\ndefaultfile=work\n\n[other]\nx=1"));

    dir.write("meridoc.ini", "[other]\nx=1");
    WriteDefaultFile("work");
    EXPECT_EQ(dir.read("meridoc.ini"), QByteArray("[other]\nx=1\n[filenames]\ndefaultfile=work\n"));
}

TEST(Configuration, WriteDefaultFileReportsWhatItCannotStore) {
    const struct {
        QString name;
        const char *prepare; // shell command run in the program directory
    } cases[] = {
        {"home", "chmod 444 meridoc.ini"},
        {"home", "rm meridoc.ini; mkfifo meridoc.ini"}, // cannot be read
        {QStringLiteral("\u0141ukasz"), "true"},        // outside Windows-1252
        {"home\r\nextention=txt", "true"},              // a line break
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.prepare);
        TempProgramDir dir;
        dir.write("meridoc.ini", DefaultIni);
        std::system(QFile::encodeName("cd '" + dir.path() + "' && " + c.prepare).constData());
        const bool fifo = !QFileInfo(dir.file("meridoc.ini")).isFile();
        try {
            WriteDefaultFile(c.name);
            ADD_FAILURE() << "no error";
        } catch (const Exception &e) {
            EXPECT_EQ(e.message(),
                      QStringLiteral("Unable to write to %1meridoc.ini").arg(dir.path()));
        }
        EXPECT_TRUE(fifo || dir.read("meridoc.ini").startsWith(DefaultIni));
        EXPECT_FALSE(dir.exists("temp.tmp"));
    }
}

TEST(IniFile, ValuesAreCutTo1023Characters) {
    TempProgramDir dir;
    dir.write("x.ini", "[s]\nk=" + QByteArray(2000, 'v') + "\n");
    const IniFile ini(dir.file("x.ini"));
    EXPECT_EQ(ini.ReadString("S", "K", "d").size(), 1023);
    EXPECT_EQ(ini.ReadString("s", "missing", "d"), QStringLiteral("d"));
    EXPECT_EQ(IniFile(dir.file("none.ini")).ReadString("s", "k", "d"), QStringLiteral("d"));
}

TEST(Configuration, AnUnwritableProgramDirectoryFailsWithAccessDenied) {
    TempProgramDir dir;
    dir.write("tanro.crd", SeedBytes);
    dir.makeReadOnly("tanro.crd");
    try {
        LoadConfiguration(dir.path());
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.code(), 5);
        EXPECT_EQ(e.message(), QStringLiteral("File access denied"));
    }
    EXPECT_TRUE(AppState.CardExtension.isEmpty());
    EXPECT_TRUE(AppState.CurrentFileName.isEmpty());
    EXPECT_FALSE(dir.exists("meridoc.ini"));
}
