#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui {
class TForm1;
}
class QLineEdit;
class QRadioButton;
class TAppExec;
class TForm2;
class TForm3;

// The main window: the menu, the letter pad for composing a search, and the card-file controls.
// Its groups of controls share one area and are shown one group at a time.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // `programDir` (ending with '/') is where card files and the configuration live; empty means
    // the directory of the running program.
    explicit TForm1(const QString &programDir = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    // The other two windows, created after this one.
    void setForms(TForm2 *form2, TForm3 *form3);

    // Sets the caption to "MERIDOC   " + the given card file's base name.
    void setCardFileCaption(const QString &baseName);

    // Menu and group-switching handlers.
    void FILE1Click();
    void NEW1Click();
    void OPEN1Click();
    void SAVEAS1Click();
    void RENAME1Click();
    void DELETE1Click();
    void EXIT1Click();
    void SEARCHClick();
    void Newrecord1Click();
    void Help2Click();
    void ABOUT1Click();

    // Letter pad.
    void StringGrid1Click();
    void Button2Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();

    // Card-file commands: OK buttons and CANCEL.
    void Button1Click();
    void Button4Click();
    void Button5Click();
    void Button9Click();
    void Button11Click();

    // The launcher HELP runs the help viewer with.
    TAppExec *AppExec1 = nullptr;

    // Role of Button1: rename or delete, set by the menu command that shows it.
    enum class Button1Role { Rename = 0, Delete = 1 };

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void connectHandlers();
    void setUpKeyboard();
    void focusWindowIfEmpty();
    void describePadPress();
    void selectCurrentFile();
    void hideLetterPad();
    void hideFileControls();
    void showOnly(const QList<QWidget *> &widgets);
    void hideSearchWindow();
    void fillFileList();
    QList<QWidget *> letterPad() const;
    QList<QWidget *> fileControls() const;
    // The letter pad's search text and BY NAME choice, handed to the search window.
    void showSearchWindow(bool forAdding);

    std::unique_ptr<Ui::TForm1> ui;
    QString requestedProgramDir_;
    TForm2 *form2_ = nullptr;
    TForm3 *form3_ = nullptr;
    Button1Role button1Role_ = Button1Role::Rename;
};
