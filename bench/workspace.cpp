#include "workspace.h"

#include "app/search_edit_window.h"
#include "data/configuration.h"

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
        meridoc::LoadConfiguration(dir());
        form2_ = std::make_unique<TForm2>();
        form2_->showForSearch({}); // an empty search lists every entry
    }
    return *form2_;
}

} // namespace bench
