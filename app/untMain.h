#pragma once
// TForm1, the rates window: a date picker and one button that fetches the
// bank's rates page of that date over HTTP (directly or through a proxy)
// and writes a short report into a read-only text area; a settings panel,
// toggled from the menu, holds the server address, the answer time-out and
// the proxy.  The five settings and the window position are kept by
// FormStorage1 in the registry under Software\<program>\TForm1.

#include <functional>
#include <memory>

#include "gui/ComCtrls.h"
#include "gui/Forms.h"
#include "gui/Mask.h"
#include "gui/Menus.h"
#include "gui/StdCtrls.h"
#include "net/http/NMHttp.h"
#include "runtime/StringList.h"

// The rates server the window asks until the user types another one: the
// bundled rates server on this machine.
inline constexpr const char* DefaultServerAddress = "127.0.0.1";
// The path and query key of the rates page; the date text follows.
inline constexpr const char* RatesPagePath = "/markets/scripts/val_res1a.asp?date_req=";

class TFormStorage;

class TForm1 : public TForm {
  public:
    explicit TForm1(TComponent* AOwner);
    ~TForm1() override;
    String ClassName() const override { return "TForm1"; }

    // The components, in the order the window declares them.
    TNMHTTP* NMHTTP1;
    TStatusBar* sb;
    TPanel* Panel2;
    TLabel* Label1;
    TDateTimePicker* dteKurs;
    TButton* Button1;
    TFormStorage* FormStorage1;
    TMemo* Memo2;
    TMainMenu* MainMenu1;
    TMenuItem* N1;
    TMenuItem* N2;
    TMenuItem* N3;
    TMenuItem* N4;
    TMenuItem* N5;
    TMenuItem* N6;
    TPanel* pSet;
    TButton* Button3;
    TGroupBox* GroupBox1;
    TCheckBox* cbxProxy;
    TLabel* Label20;
    TEdit* edtProxy;
    TLabel* Label21;
    TGroupBox* GroupBox2;
    TLabel* Label2;
    TEdit* edtServer;
    TLabel* Label3;
    TMaskEdit* edtTimeOut;
    TMaskEdit* edtPort;

    // Handlers of the window and its menu.
    void FormCreate(TObject* Sender);
    void N4Click(TObject* Sender);
    void Button3Click(TObject* Sender);
    void N2Click(TObject* Sender);
    void N6Click(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);

    // The rates request and the client's events.
    void Button1Click(TObject* Sender);
    void NMHTTP1Connect(TObject* Sender);
    void NMHTTP1Disconnect(TObject* Sender);
    void NMHTTP1InvalidHost(bool& Handled);
    void NMHTTP1HostResolved(TComponent* Sender);
    void NMHTTP1ConnectionFailed(TObject* Sender);
    void NMHTTP1PacketRecvd(TObject* Sender);
    void NMHTTP1Success(CmdType Cmd);
    void NMHTTP1Failure(CmdType Cmd);

    // Appends the report of PageLines to Memo2 (a currency name in the first
    // or last two lines raises the list's index error).
    void Check();

    // The date of dteKurs as the URL and the report write it.
    String DateText() const;
    // The URL Button1Click asks for with the fields as they are now.
    String RequestURL() const;
    // The page lines of the last request (nullptr once the window closed).
    const TStringList* Pages() const { return PageLines; }
    // Whether a request is running.
    bool Busy() const { return FBusy; }

    // Told each status text as it appears in sb (the empty one included).
    std::function<void(const String& Text)> OnStatusText;

  private:
    void SetStatus(const String& Text);

    TStringList* PageLines = nullptr;
    bool FBusy = false;
    // The date text of the running request.
    String FRequestDate;
    // The window closed while a request was running: the request was ended
    // and the page lines go when it has unwound.
    bool FClosedWhileBusy = false;
};

extern TForm1* Form1;
