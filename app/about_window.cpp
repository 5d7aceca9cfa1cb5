#include "about_window.h"

#include "data/errors.h"
#include "data/files.h"
#include "data/text.h"
#include "ui_about_window.h"
#include "window_style.h"

#include <QCloseEvent>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole content of a plain file. Anything that is not a readable regular file (a file
// nobody may read, a pipe, a socket, a device) is refused, also for a process that could read
// past the permission bits.
bool readWholeFile(const QString &path, QByteArray *out) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) != 0;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        out->append(buffer, n);
    }
    ::close(fd);
    return ok;
}

// Text of a plain-text file: UTF-8 when the bytes are valid UTF-8, otherwise the single-byte
// Windows-1252 the program's own files use. Line ends of any kind become '\n'.
QString decodePlainText(const QByteArray &bytes) {
    QString text = meridoc::text::fromUtf8OrCp1252(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

TForm3::TForm3(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm3>()) {
    ui->setupUi(this);
    meridoc::applyWindowStyle(this);
    // The window opens at its designed place (the layout file gives only its size to a window),
    // not centred over the main window.
    move(170, 85);
    ui->Memo1->setAccessibleName(QStringLiteral("About MERIDOC"));
    ui->Button1->setFocus(Qt::OtherFocusReason); // BACK comes first in the tab order
    connect(ui->Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

TForm3::~TForm3() = default;

void TForm3::loadAboutText(const QString &programDir) {
    const QString name = QStringLiteral("readme.txt");
    if (!meridoc::files::fileExists(programDir, name))
        return;
    const QString path = meridoc::files::resolve(programDir, name);
    QByteArray bytes;
    if (!readWholeFile(path, &bytes))
        throw meridoc::Exception(QStringLiteral("Cannot open file ") + path);
    ui->Memo1->setPlainText(decodePlainText(bytes));
}

QString TForm3::aboutText() const {
    return ui->Memo1->toPlainText();
}

void TForm3::Button1Click() {
    done(1);
}

void TForm3::FormClose() {
    setResult(1);
}

void TForm3::reject() {
    close();
}

// However the window is closed, its modal result is 1; hiding it ends the modal display.
void TForm3::closeEvent(QCloseEvent *event) {
    FormClose();
    event->accept();
}
