#pragma once
// What the form placement tests share: a resizable window with a placement
// alone, and a fixture that resets the screen and the recorded message boxes
// and reads and writes the test program's key.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/Dialogs.h"
#include "settings/Placemnt.h"
#include "settings/Registry.h"
#include "testing/TestHome.h"

namespace placement_test {

using namespace win;

// A resizable window with the placement alone, options as given.
class TSizeForm : public TForm {
  public:
    TSizeForm(TComponent* AOwner) : TForm(AOwner) {
        SetPosition(poScreenCenter);
        SetBounds(0, 0, 400, 300);
        Placement = new TFormPlacement(this);
        Placement->SetUseRegistry(true);
    }
    String ClassName() const override { return "TSizeForm"; }
    TFormPlacement* Placement;
};

inline const char* const kKey = "Software\\kurs_settings_test";

class FormPlacement : public TestHome {
  protected:
    void SetUp() override {
        TestHome::SetUp();
        ClearRecordedMessageBoxes();
        SetScreenMetrics(ScreenMetrics{});
    }
    void TearDown() override {
        SetScreenMetrics(ScreenMetrics{});
        if (Application->Minimized())
            Application->Restore();
        ProcessMessages();
        TestHome::TearDown();
    }
    static String Stored(const char* section, const char* name) {
        TRegIniFile store(kKey);
        return store.ReadString(section, name, "<none>");
    }
    static void Store(const char* section, const char* name, const char* value) {
        TRegIniFile store(kKey);
        store.WriteString(section, name, value);
    }
    static std::vector<String> Reports() {
        std::vector<String> texts;
        for (const auto& box : RecordedMessageBoxes())
            texts.push_back(box.Text);
        return texts;
    }
    // Shows and closes a form, as one run of the program does.
    template <typename T>
    static void Run(T* form) {
        form->Show();
        form->Close();
        FreeForm(form);
    }
};

}  // namespace placement_test
