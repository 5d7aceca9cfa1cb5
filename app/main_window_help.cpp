// HELP and ABOUT of the main window.
#include "main_window.h"

#include "about_window.h"
#include "data/appstate.h"
#include "ui_main_window.h"

void TForm1::Help2Click() {}

void TForm1::ABOUT1Click() {
    if (!form3_)
        return;
    form3_->loadAboutText(meridoc::AppState.ProgramDir);
    form3_->exec();
}
