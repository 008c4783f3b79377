// kurs: the rates window.  SIGTERM, SIGINT and SIGHUP close the window the
// way its close button does (the backend turns them into a close request),
// so the settings are saved before the program ends.  The window takes no
// options; --version and --help answer without opening a display.

#include <cstdio>
#include <cstring>

#include "app/untMain.h"
#include "gui/qt/QtBackend.h"

#include "KursVersion.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("kurs " KURS_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: kurs\n"
            "Opens the window that fetches the Central Bank of Russia's rates for a date.\n"
            "It takes no options; in a terminal, use kurs-report.  See kurs(1).");
        return 0;
    }
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
