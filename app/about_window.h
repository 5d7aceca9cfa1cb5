#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm3;
}

// The about window: a read-only text box showing "readme.txt", shown modally.
class TForm3 : public QDialog {
    Q_OBJECT

public:
    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    // Replaces the shown text by the content of "readme.txt" in `programDir` when that file
    // exists; keeps the earlier text when it does not.
    void loadAboutText(const QString &programDir);

    void Button1Click(); // BACK
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::TForm3> ui;
};
