#include "workspace.h"

#include "app/main_window.h"
#include "app/search_edit_window.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace bench {

Workspace::Workspace() : dir_(QDir::tempPath() + QStringLiteral("/meridoc-bench-XXXXXX")) {
    if (!dir_.isValid())
        throw std::runtime_error("cannot make a temporary program directory");
}

Workspace::~Workspace() {
    form2_.reset();
    form1_.reset();
}

QString Workspace::dir() const {
    return dir_.path() + '/';
}

CardCase &Workspace::card(int n) {
    auto &slot = cards_[n];
    if (!slot)
        slot = std::make_unique<CardCase>(dir(), n);
    return *slot;
}

SqliteCase &Workspace::sqlite(int n) {
    auto &slot = databases_[n];
    if (!slot)
        slot = std::make_unique<SqliteCase>(dir(), n);
    return *slot;
}

TForm2 &Workspace::searchWindow(int n) {
    if (!form2_) {
        const CardCase &cards = card(n);
        QFile ini(dir() + QStringLiteral("meridoc.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write meridoc.ini");
        ini.write(QStringLiteral("\r\n[filenames]\r\nextention=crd\r\ndefaultfile=%1\r\n\r\n")
                      .arg(QFileInfo(cards.path()).completeBaseName())
                      .toLatin1());
        ini.close();
        form1_ = std::make_unique<TForm1>(dir());
        form2_ = std::make_unique<TForm2>(form1_.get());
        form1_->setForms(form2_.get(), nullptr);
        form2_->showForSearch();
    }
    return *form2_;
}

} // namespace bench
