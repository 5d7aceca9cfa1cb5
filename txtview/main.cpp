// The help viewer: shows the topic named by its arguments (all of them, joined by blanks) from
// the help text installed beside it, and ends when its window is closed.
#include "desktop/desktop_identity.h"
#include "help_topics.h"
#include "viewer_window.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("txtview"));
    // The viewer is part of the program: the same icon and the same launcher in task switchers.
    meridoc::applyDesktopIdentity();

    const QString wanted = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    const QString path = txtview::HelpFilePath(QCoreApplication::applicationDirPath() + '/',
                                               QStringLiteral("meridoc-help.txt"));
    QString content;
    QString problem;
    if (!txtview::ReadTextFile(path, &content))
        problem = QStringLiteral("The help text %1 could not be read.")
                      .arg(QDir::toNativeSeparators(path));
    const QList<txtview::HelpTopic> topics = txtview::ParseHelpTopics(content);
    // Without arguments the first topic, the contents, is shown.
    const QString topic = wanted.isEmpty() && !topics.isEmpty() ? topics.first().name : wanted;

    txtview::ViewerWindow window(topics, topic, problem);
    window.show();
    return app.exec();
}
