#include "app/about_window.h"
#include "app/main_window.h"
#include "app/search_edit_window.h"
#include "components/Timelabel.h"
#include "components/appexec.h"
#include "desktop/desktop_identity.h"
#include "help_topics.h"
#include "support/program_dir.h"
#include "support/scripted_messages.h"
#include "support/windows.h"
#include "viewer_window.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>

using testsupport::ScriptedMessages;
using testsupport::TempProgramDir;

namespace {

// The main window with its about window, on a fresh program directory.
struct Windows {
    TempProgramDir dir;
    TForm1 form1{dir.path()};
    TForm3 form3{&form1};
    Windows() { form1.setForms(nullptr, &form3); }

    void trigger(const char *action) { form1.findChild<QAction *>(action)->trigger(); }
    QString memo() const { return form3.findChild<QPlainTextEdit *>("Memo1")->toPlainText(); }
    // ABOUT, closing the about window with `close` once it is on screen. Returns whether the
    // window was shown.
    bool about(const std::function<void(TForm3 &)> &close) {
        bool shown = false;
        QTimer poll;
        QElapsedTimer waited;
        waited.start();
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (form3.isVisible() && form3.isModal()) {
                shown = true;
                poll.stop();
                close(form3);
            } else if (waited.elapsed() > 5000) {
                form3.done(0); // never leave a test hanging on a modal window
            }
        });
        poll.start(5);
        trigger("ABOUT1");
        EXPECT_FALSE(form3.isVisible());
        return shown;
    }
    bool aboutClosedByBack() {
        return about([](TForm3 &w) { w.findChild<QPushButton *>("Button1")->click(); });
    }
    // An executable script in the program directory.
    void script(const QString &name, const QByteArray &body) {
        dir.write(name, "#!/bin/sh\n" + body + "\n");
        QFile::setPermissions(dir.file(name),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

bool processGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

QString resource(const char *name) {
    return QStringLiteral(MERIDOC_RESOURCES) + name;
}

} // namespace

TEST(About, TheAboutWindowAsDesigned) {
    TForm3 form3;
    EXPECT_EQ(form3.windowTitle(), "ABOUT MERIDOC ");
    EXPECT_EQ(form3.geometry(), QRect(170, 85, 435, 315));
    auto *memo = form3.findChild<QPlainTextEdit *>("Memo1");
    EXPECT_EQ(memo->geometry(), QRect(8, 8, 409, 241));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(memo->toPlainText(), "Topic not found.");
    auto *back = form3.findChild<QPushButton *>("Button1");
    EXPECT_EQ(back->text(), "BACK");
    EXPECT_EQ(back->geometry(), QRect(168, 256, 65, 25));
}

TEST(About, WithoutReadmeTheWindowSaysTopicNotFound) {
    Windows w;
    EXPECT_TRUE(w.aboutClosedByBack());
    EXPECT_EQ(w.memo(), "Topic not found.");
    EXPECT_EQ(w.form3.result(), 1);
}

TEST(About, TheReadmeIsShownAndKeptWhenItIsGone) {
    Windows w;
    w.dir.write("ReadMe.TXT", "MERIDOC 1.0\r\nLine two\r\n");
    EXPECT_TRUE(w.aboutClosedByBack());
    EXPECT_EQ(w.memo(), "MERIDOC 1.0\nLine two\n");
    w.dir.write("ReadMe.TXT", "Changed\n");
    EXPECT_TRUE(w.aboutClosedByBack());
    EXPECT_EQ(w.memo(), "Changed\n");
    QFile::remove(w.dir.file("ReadMe.TXT"));
    EXPECT_TRUE(w.aboutClosedByBack());
    EXPECT_EQ(w.memo(), "Changed\n");
}

TEST(About, TheReadmeIsReadAsUtf8OrElseAsWindows1252) {
    const std::pair<QByteArray, QString> cases[] = {
        {"Caf\xc3\xa9 \xe2\x82\xac", QStringLiteral("Café €")},
        {"\xef\xbb\xbfwith mark", "with mark"},
        {"Caf\xe9 \x80 \x93", QStringLiteral("Café € \u201c")},
    };
    for (const auto &[bytes, shown] : cases) {
        Windows w;
        w.dir.write("readme.txt", bytes);
        EXPECT_TRUE(w.aboutClosedByBack());
        EXPECT_EQ(w.memo(), shown);
    }
}

TEST(About, AnUnreadableReadmeIsReportedAndTheWindowStaysClosed) {
    Windows w;
    w.dir.write("readme.txt", "secret");
    QFile::setPermissions(w.dir.file("readme.txt"), QFileDevice::Permissions());
    ScriptedMessages boxes;
    boxes.expectError("Cannot open file " + w.dir.file("readme.txt"));
    EXPECT_FALSE(w.aboutClosedByBack());
    EXPECT_EQ(w.memo(), "Topic not found.");
}

TEST(About, ClosingByTheFrameEscapeOrEnterIsLikeBack) {
    Windows w;
    EXPECT_TRUE(w.about([](TForm3 &f) { f.close(); }));
    EXPECT_EQ(w.form3.result(), 1);
    EXPECT_TRUE(w.about([](TForm3 &f) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&f, &escape);
    }));
    EXPECT_EQ(w.form3.result(), 1);
    EXPECT_TRUE(w.about([](TForm3 &f) { // Enter on the focused BACK
        auto *back = f.findChild<QPushButton *>("Button1");
        back->setFocus();
        QTest::keyClick(back, Qt::Key_Return);
    }));
    EXPECT_EQ(w.form3.result(), 1);
    EXPECT_TRUE(w.aboutClosedByBack()); // still usable afterwards
}

TEST(Help, AMissingViewerIsReportedAndTheProgramCarriesOn) {
    Windows w;
    ScriptedMessages boxes;
    boxes.expectError("File was not found");
    w.trigger("Help2");
    EXPECT_EQ(w.form1.AppExec1->ErrNo(), 2);
    EXPECT_TRUE(w.aboutClosedByBack());
}

// The viewer in the program directory gets the topic and is waited for; meanwhile the main
// window still takes commands and its clock runs.
TEST(Help, TheViewerIsWaitedForWhileTheWindowsStayUsable) {
    Windows w;
    w.script("txtview.exe", "echo \"$@\" > \"$0.args\"\n"
                            "while [ ! -e \"$0.done\" ]; do sleep 0.02; done\n"
                            "exit 4");
    auto *clock = w.form1.findChild<TTimelabel *>("Timelabel1");
    bool searched = false;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!searched) {
            w.trigger("SEARCH"); // a command runs inside the wait
            searched = !w.form1.findChild<QWidget *>("StringGrid1")->isHidden();
        }
        if ((searched && clock->text() != "Timelabel1") || waited.elapsed() > 10000)
            w.dir.write("txtview.exe.done", {});
    });
    poll.start(20);
    w.trigger("Help2");
    EXPECT_TRUE(searched);
    EXPECT_NE(clock->text(), "Timelabel1") << "the clock stood still";
    EXPECT_EQ(w.dir.read("txtview.exe.args"), "Meridoc Help\n");
    EXPECT_EQ(w.form1.AppExec1->ErrNo(), 4);
}

TEST(HelpText, TopicsAreHeadedByTopicLines) {
    const QList<txtview::HelpTopic> topics = txtview::ParseHelpTopics(
        "not shown\n.TOPIC First\n\n  text one\n\n.topic  Second one  \r\nline\r\n.Topic\n");
    ASSERT_EQ(topics.size(), 3);
    EXPECT_EQ(topics[0].name, "First");
    EXPECT_EQ(topics[0].text, "  text one");
    EXPECT_EQ(topics[1].name, "Second one");
    EXPECT_EQ(topics[1].text, "line");
    EXPECT_EQ(topics[2].name, "");
    EXPECT_EQ(txtview::FindTopic(topics, " second ONE"), 1);
    EXPECT_EQ(txtview::FindTopic(topics, "Third"), -1);
}

TEST(HelpText, TheShippedHelpHasTheTopicHelpAsksFor) {
    QString content;
    ASSERT_TRUE(txtview::ReadTextFile(resource("meridoc-help.txt"), &content));
    const QList<txtview::HelpTopic> topics = txtview::ParseHelpTopics(content);
    const qsizetype main = txtview::FindTopic(topics, "Meridoc Help");
    ASSERT_EQ(main, 0);
    // Every topic the contents page names exists.
    for (const txtview::HelpTopic &t : topics.mid(1)) {
        EXPECT_TRUE(topics[0].text.contains("  " + t.name + " ")) << t.name.toStdString();
        EXPECT_FALSE(t.text.isEmpty()) << t.name.toStdString();
    }
    EXPECT_GE(topics.size(), 7);
    QString readme;
    ASSERT_TRUE(txtview::ReadTextFile(resource("readme.txt"), &readme));
    EXPECT_TRUE(readme.startsWith("MERIDOC"));
}

// The texts the program can show: the captions of its windows and controls, and every string
// literal of its sources (messages are built from those).
static QStringList programTexts() {
    testsupport::ProgramWindows w;
    TForm3 about;
    QStringList texts;
    for (const QWidget *window : std::initializer_list<QWidget *>{&w.form1(), &w.form2(), &about}) {
        texts << window->windowTitle();
        for (const QObject *o : window->findChildren<QObject *>())
            texts << o->property("text").toString().replace("&&", "&")
                  << o->property("title").toString();
    }
    static const QRegularExpression literal(R"re("((?:[^"\\\n]|\\.)*)")re");
    for (const char *folder : {"app", "components", "data"}) {
        const QDir dir(QStringLiteral(MERIDOC_SOURCES) + folder);
        for (const QString &name : dir.entryList({"*.cpp"})) {
            QString source;
            EXPECT_TRUE(txtview::ReadTextFile(dir.filePath(name), &source));
            for (const auto &m : literal.globalMatch(source))
                texts.append(m.captured(1).replace("\\\"", "\"").replace("\\\\", "\\"));
        }
    }
    return texts;
}

// A text the help puts in double quotes is a topic's name, or one the program shows: whole, or
// beginning with a caption that ends in a blank and goes on with a name ("MERIDOC   TANRO").
TEST(HelpText, QuotesOnlyTextsTheProgramHas) {
    QString content;
    ASSERT_TRUE(txtview::ReadTextFile(resource("meridoc-help.txt"), &content));
    const QList<txtview::HelpTopic> topics = txtview::ParseHelpTopics(content);
    const QStringList texts = programTexts();
    static const QRegularExpression quoted(R"re("([^"]*)")re");
    static const QRegularExpression lineBreak(R"re( *\n *)re");
    int checked = 0;
    for (const txtview::HelpTopic &topic : topics) {
        for (const auto &m : quoted.globalMatch(topic.text)) {
            const QString phrase = m.captured(1).replace(lineBreak, " ");
            const bool known =
                txtview::FindTopic(topics, phrase) >= 0 ||
                std::any_of(texts.begin(), texts.end(), [&](const QString &t) {
                    return (!t.trimmed().isEmpty() && t.trimmed() == phrase.trimmed()) ||
                           (t.endsWith(' ') && t.size() > 4 && phrase.startsWith(t));
                });
            EXPECT_TRUE(known) << topic.name.toStdString() << ": \"" << phrase.toStdString()
                               << "\"";
            ++checked;
        }
    }
    EXPECT_GE(checked, 10);
}

TEST(HelpText, TheViewerShowsTheWantedTopicOrSaysItIsMissing) {
    const QList<txtview::HelpTopic> topics = {{"Meridoc Help", "contents"}, {"Other", "more"}};
    txtview::ViewerWindow found(topics, "meridoc help", {});
    EXPECT_EQ(found.shownTopic(), "Meridoc Help");
    EXPECT_EQ(found.shownText(), "contents");
    txtview::ViewerWindow missing(topics, "Nothing", {});
    EXPECT_TRUE(missing.shownText().startsWith("Topic not found: \"Nothing\"."));
    txtview::ViewerWindow broken(topics, "Other", "no help text");
    EXPECT_EQ(broken.shownText(), "no help text");
}

TEST(Desktop, EveryWindowAndTheApplicationShowTheProgramIcon) {
    Windows w;
    TForm2 form2;
    txtview::ViewerWindow viewer({}, {}, {});
    // The windows carry the icon themselves, before the application has one.
    for (const QWidget *window :
         std::initializer_list<const QWidget *>{&w.form1, &form2, &w.form3, &viewer})
        EXPECT_FALSE(window->windowIcon().pixmap(16).isNull())
            << window->objectName().toStdString();
    meridoc::applyDesktopIdentity();
    EXPECT_FALSE(QGuiApplication::windowIcon().pixmap(256).isNull());
    EXPECT_EQ(QGuiApplication::desktopFileName(), "org.meridoc.Meridoc");
}

// EXIT while HELP waits ends the program at once; the viewer stays open. (Kept last: it runs the
// application's main loop.)
TEST(HelpExit, ExitWhileTheViewerIsOpenEndsTheProgram) {
    Windows w;
    w.script("txtview.exe", "exec sleep 30");
    w.form1.show();
    QTimer::singleShot(0, [&] { w.trigger("Help2"); });
    QTimer::singleShot(150, [&] { w.trigger("EXIT1"); });
    QElapsedTimer wall;
    wall.start();
    QCoreApplication::exec();
    EXPECT_LT(wall.elapsed(), 5000);
    const pid_t viewer = w.form1.AppExec1->ProcessHandle();
    ASSERT_GT(viewer, 0);
    EXPECT_FALSE(processGone(viewer)) << "the viewer should stay open";
    ::kill(viewer, SIGKILL);
    QElapsedTimer reap;
    reap.start();
    while (!processGone(viewer) && reap.elapsed() < 10000)
        QTest::qWait(5);
    EXPECT_TRUE(processGone(viewer));
}
