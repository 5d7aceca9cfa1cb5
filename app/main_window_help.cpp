// HELP and ABOUT of the main window.
#include "main_window.h"

#include "about_window.h"
#include "components/appexec.h"
#include "data/appstate.h"

// HELP: runs the help viewer and returns when it has been closed; the windows stay usable
// meanwhile. A viewer that cannot be started is reported by the guard.
void TForm1::Help2Click() {
    AppExec1->Execute();
}

// ABOUT: the about window with "readme.txt" of the program directory. A file that exists but
// cannot be read ends the command before the window is shown.
void TForm1::ABOUT1Click() {
    if (!form3_)
        return;
    form3_->loadAboutText(meridoc::AppState.ProgramDir);
    form3_->exec();
}
