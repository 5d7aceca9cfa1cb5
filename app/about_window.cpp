#include "about_window.h"

#include "ui_about_window.h"
#include "window_style.h"

#include <QCloseEvent>

TForm3::TForm3(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm3>()) {
    ui->setupUi(this);
    meridoc::applyWindowStyle(this);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

TForm3::~TForm3() = default;

void TForm3::loadAboutText(const QString &programDir) {}

void TForm3::Button1Click() { done(1); }

void TForm3::FormClose() { setResult(1); }

void TForm3::closeEvent(QCloseEvent *event) {
    FormClose();
    QDialog::closeEvent(event);
}
