// The card-file commands of the main window: the OK buttons of NEW, OPEN, SAVE AS, RENAME and
// DELETE.
#include "main_window.h"

#include "ui_main_window.h"

void TForm1::fillFileList() {}
void TForm1::Button1Click() {}
void TForm1::Button4Click() {}
void TForm1::Button9Click() {}
void TForm1::Button11Click() {}
