// Prints the time from the start of main() to the first rendered frame of a
// demo form under the current Qt platform (offscreen unless set), and the
// resident memory once it is shown.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <QApplication>
#include <QPixmap>
#include <QWidget>

#include "gui/ComCtrls.h"
#include "gui/Forms.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "gui/qt/QtBackend.h"

namespace {

class TBenchForm : public TForm {
  public:
    explicit TBenchForm(TComponent* AOwner) : TForm(AOwner) {
        SetCaption("Получение курсов валют ЦБ"_cp);
        SetBorderStyle(bsSingle);
        SetPosition(poScreenCenter);
        SetClientSize(287, 225);
        auto* menu = new TMainMenu(this);
        auto* file = new TMenuItem(this);
        file->SetCaption("&Файл"_cp);
        menu->Items()->Add(file);
        SetMenu(menu);
        auto* bar = new TStatusBar(this);
        bar->SetParent(this);
        bar->SetBounds(0, 206, 287, 19);
        bar->SetSimplePanel(true);
        auto* panel = new TPanel(this);
        panel->SetParent(this);
        panel->SetBounds(0, 178, 287, 28);
        panel->SetAlign(alBottom);
        auto* picker = new TDateTimePicker(this);
        picker->SetParent(panel);
        picker->SetBounds(45, 4, 90, 21);
        auto* button = new TButton(this);
        button->SetParent(panel);
        button->SetBounds(140, 3, 147, 24);
        button->SetCaption("Получить курсы валют"_cp);
        auto* memo = new TMemo(this);
        memo->SetParent(this);
        memo->SetAlign(alClient);
        memo->SetReadOnly(true);
        auto* edit = new TMaskEdit(this);
        edit->SetParent(panel);
        edit->SetEditMask("999;1;_");
        edit->SetVisible(false);
    }
};

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TQtBackend backend(argc, argv);
    Application->Initialize();
    Application->SetTitle("Курсы валют"_cp);
    TBenchForm* form = nullptr;
    Application->CreateForm(form);
    form->Show();
    Application->ProcessMessages();
    QWidget* window = TQtBackend::WidgetOf(form);
    const QPixmap frame = window ? window->grab() : QPixmap();
    const auto shown = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(shown - start).count();
    std::printf("first shown frame: %.1f ms (%dx%d, platform %s)\n", ms, frame.width(),
                frame.height(), qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("resident memory with the form shown: %ld KiB\n", ResidentKiB());
    Application->DoneApplication();
    return 0;
}
