#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm3;
}

// The about window: a read-only text box showing "readme.txt", shown modally. It is hidden, not
// destroyed, when it closes, and keeps the text it showed last.
class TForm3 : public QDialog {
    Q_OBJECT

public:
    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    // Replaces the shown text by the content of "readme.txt" in `programDir` (the name matched
    // without regard to case) when that file exists; keeps the earlier text when it does not.
    // A file that exists but cannot be read raises "Cannot open file <path>". The file is read
    // as UTF-8 when it is valid UTF-8, otherwise as Windows-1252.
    void loadAboutText(const QString &programDir);
    QString aboutText() const;

    void Button1Click(); // BACK
    void FormClose();

public slots:
    // Escape closes the window like its close control does.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::TForm3> ui;
};
