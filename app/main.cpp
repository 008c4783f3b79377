// kurs: the rates window.  SIGTERM, SIGINT and SIGHUP close the window the
// way its close button does (the backend turns them into a close request),
// so the settings are saved before the program ends.

#include "app/untMain.h"
#include "gui/qt/QtBackend.h"

int main(int argc, char** argv) {
    TQtBackend::SetNoDisplayMessage(
        "kurs: the window needs a graphical display and none could be opened "
        "(is DISPLAY set?); in a terminal, use kurs-report");
    TQtBackend backend(argc, argv);
    // Docks and task bars show kurs as its desktop entry does; the icon is
    // compiled into the program, so the window has it wherever it runs from.
    backend.SetDesktopIdentity("kurs", ":/kurs/kurs.svg");
    Application->Initialize();
    Application->SetTitle("Курсы валют"_cp);
    Application->CreateForm(Form1);
    Application->Run();
    return 0;
}
