#include "app/untMain.h"

#include "app/RatesReport.h"
#include "app/StoredSettings.h"
#include "gui/Dialogs.h"
#include "runtime/DateTime.h"
#include "runtime/Exceptions.h"
#include "settings/Placemnt.h"
#include "settings/Registry.h"

#include "KursVersion.h"

TForm1* Form1 = nullptr;

namespace {

const String kAbout =
    "Получение курсов валют с сервера ЦБ.\r\n"
    "Версия " KURS_VERSION
    "\r\n"
    "Автор: разработчики kurs\r\n"
    "Связь: трекер задач проекта kurs"_cp;

// The two lines of each failure box are separated by LF CR.
const String kTimedOutMessage =
    "Время запроса истекло... Сервер ЦБ не отвечает...\n\rВозможно нет подключения к Интернет."_cp;
const String kFailedMessage =
    "Произошла ошибка при получении курса валют...\n\rВозможно нет подключения к Интернет."_cp;

void PlaceControl(TControl* control, TWinControl* parent, int left, int top, int width,
                  int height) {
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
}

template <typename T>
T* Place(T* control, TWinControl* parent, int left, int top, int width, int height) {
    PlaceControl(control, parent, left, top, width, height);
    return control;
}

}  // namespace

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
    SetName("Form1");
    SetCaption("Получение курсов валют ЦБ"_cp);
    SetBorderStyle(bsSingle);
    SetBorderIcons(TBorderIcons{biSystemMenu, biMinimize});
    SetPosition(poScreenCenter);
    SetColor(clBtnFace);
    Font()->SetName("MS Sans Serif");
    Font()->SetColor(clWindowText);
    Font()->SetHeight(-11);
    SetPixelsPerInch(96);
    SetClientSize(287, 225);

    NMHTTP1 = new TNMHTTP(this);
    NMHTTP1->SetName("NMHTTP1");
    NMHTTP1->SetHost("http://127.0.0.1/");
    NMHTTP1->SetPort(0);
    NMHTTP1->SetTimeOut(20000);
    NMHTTP1->SetReportLevel(0);
    NMHTTP1->SetBody("Default.htm");
    NMHTTP1->SetHeader("Head.txt");
    NMHTTP1->SetInputFileMode(false);
    NMHTTP1->SetOutputFileMode(false);
    NMHTTP1->SetProxy("");
    NMHTTP1->SetProxyPort(0);
    NMHTTP1->OnConnect = [this](TObject* s) { NMHTTP1Connect(s); };
    NMHTTP1->OnDisconnect = [this](TObject* s) { NMHTTP1Disconnect(s); };
    NMHTTP1->OnInvalidHost = [this](bool& handled) { NMHTTP1InvalidHost(handled); };
    NMHTTP1->OnHostResolved = [this](TComponent* s) { NMHTTP1HostResolved(s); };
    NMHTTP1->OnConnectionFailed = [this](TObject* s) { NMHTTP1ConnectionFailed(s); };
    NMHTTP1->OnPacketRecvd = [this](TObject* s) { NMHTTP1PacketRecvd(s); };
    NMHTTP1->OnSuccess = [this](CmdType c) { NMHTTP1Success(c); };
    NMHTTP1->OnFailure = [this](CmdType c) { NMHTTP1Failure(c); };

    sb = Place(new TStatusBar(this), this, 0, 206, 287, 19);
    sb->SetName("sb");
    sb->SetSimplePanel(true);

    Panel2 = Place(new TPanel(this), this, 0, 178, 287, 28);
    Panel2->SetName("Panel2");
    Panel2->SetAlign(alBottom);
    Panel2->SetBevelOuter(bvNone);

    Label1 = Place(new TLabel(this), Panel2, 6, 8, 32, 13);
    Label1->SetName("Label1");
    Label1->SetCaption("Дата: "_cp);

    dteKurs = Place(new TDateTimePicker(this), Panel2, 45, 4, 90, 21);
    dteKurs->SetName("dteKurs");
    dteKurs->SetKind(dtkDate);
    dteKurs->SetDateFormat(dfShort);
    dteKurs->SetDateMode(dmComboBox);
    dteKurs->SetCalAlignment(dtaLeft);
    dteKurs->Font()->SetColor(clNavy);
    dteKurs->SetTabOrder(0);

    Button1 = Place(new TButton(this), Panel2, 140, 3, 147, 24);
    Button1->SetName("Button1");
    Button1->SetCaption("Получить курсы валют"_cp);
    Button1->Font()->SetColor(clNavy);
    Button1->SetTabOrder(1);
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };

    // The window position and the five settings, kept in the registry.
    FormStorage1 = new TFormStorage(this);
    FormStorage1->SetName("FormStorage1");
    FormStorage1->SetOptions(TPlacementOptions{fpPosition});
    FormStorage1->SetUseRegistry(true);
    for (const char* name : StoredSettingNames)
        FormStorage1->StoredProps()->Add(name);

    Memo2 = Place(new TMemo(this), this, 0, 0, 287, 178);
    Memo2->SetName("Memo2");
    Memo2->SetAlign(alClient);
    Memo2->SetReadOnly(true);
    // No label names the report area for a screen reader.
    Memo2->SetAccessibleName("Отчёт о курсах валют"_cp);
    Memo2->Font()->SetColor(clNavy);
    Memo2->Lines()->Add("");

    MainMenu1 = new TMainMenu(this);
    MainMenu1->SetName("MainMenu1");
    auto item = [this](const char* name, const String& caption, TMenuItem* parent) {
        auto* menuItem = new TMenuItem(this);
        menuItem->SetName(name);
        menuItem->SetCaption(caption);
        parent->Add(menuItem);
        return menuItem;
    };
    N1 = item("N1", "&Файл"_cp, MainMenu1->Items());
    N4 = item("N4", "&Настройки..."_cp, N1);
    N3 = item("N3", "-", N1);
    N2 = item("N2", "&Выход"_cp, N1);
    N5 = item("N5", "&Справка"_cp, MainMenu1->Items());
    N6 = item("N6", "&О программе..."_cp, N5);
    N4->SetChecked(true);
    N4->OnClick = [this](TObject* s) { N4Click(s); };
    N2->OnClick = [this](TObject* s) { N2Click(s); };
    N6->OnClick = [this](TObject* s) { N6Click(s); };
    SetMenu(MainMenu1);

    pSet = Place(new TPanel(this), this, 0, 0, 287, 178);
    pSet->SetName("pSet");
    pSet->SetAlign(alClient);
    pSet->SetBevelInner(bvLowered);
    pSet->SetVisible(false);

    Button3 = Place(new TButton(this), pSet, 4, 150, 279, 25);
    Button3->SetName("Button3");
    Button3->SetCaption("Вернуть начальные установки"_cp);
    Button3->SetTabOrder(0);
    Button3->OnClick = [this](TObject* s) { Button3Click(s); };

    // Below GroupBox2: both are aligned to the top, and the higher one goes first.
    GroupBox1 = Place(new TGroupBox(this), pSet, 2, 81, 283, 65);
    GroupBox1->SetName("GroupBox1");
    GroupBox1->SetAlign(alTop);
    GroupBox1->SetCaption("Прокси-сервер"_cp);
    GroupBox1->SetTabOrder(1);

    cbxProxy = Place(new TCheckBox(this), GroupBox1, 14, 16, 99, 17);
    cbxProxy->SetName("cbxProxy");
    cbxProxy->SetCaption("Использовать :"_cp);
    cbxProxy->SetAlignment(taLeftJustify);
    cbxProxy->SetTabOrder(0);

    Label20 = Place(new TLabel(this), GroupBox1, 14, 36, 82, 13);
    Label20->SetName("Label20");
    Label20->SetCaption("Адрес сервера: "_cp);

    edtProxy = Place(new TEdit(this), GroupBox1, 99, 34, 106, 21);
    edtProxy->SetName("edtProxy");
    edtProxy->SetTabOrder(1);

    Label21 = Place(new TLabel(this), GroupBox1, 208, 36, 31, 13);
    Label21->SetName("Label21");
    Label21->SetCaption("Порт: "_cp);

    GroupBox2 = Place(new TGroupBox(this), pSet, 2, 2, 283, 79);
    GroupBox2->SetName("GroupBox2");
    GroupBox2->SetAlign(alTop);
    GroupBox2->SetCaption("Сервер ЦБ"_cp);
    GroupBox2->SetTabOrder(2);

    Label2 = Place(new TLabel(this), GroupBox2, 18, 20, 147, 13);
    Label2->SetName("Label2");
    Label2->SetCaption("Адрес сервера ( IP или URL):"_cp);

    edtServer = Place(new TEdit(this), GroupBox2, 172, 16, 105, 21);
    edtServer->SetName("edtServer");
    edtServer->SetText(DefaultServerAddress);
    edtServer->SetTabOrder(0);

    Label3 = Place(new TLabel(this), GroupBox2, 10, 44, 156, 13);
    Label3->SetName("Label3");
    Label3->SetCaption("Время ожидания ответа (сек.):"_cp);

    edtTimeOut = Place(new TMaskEdit(this), GroupBox2, 172, 40, 41, 21);
    edtTimeOut->SetName("edtTimeOut");
    edtTimeOut->SetEditMask("999;1;_");
    edtTimeOut->SetMaxLength(3);
    edtTimeOut->SetText("20 ");
    edtTimeOut->SetTabOrder(1);

    edtPort = Place(new TMaskEdit(this), GroupBox1, 238, 34, 41, 21);
    edtPort->SetName("edtPort");
    edtPort->SetEditMask("9999;1;_");
    edtPort->SetMaxLength(4);
    edtPort->SetText("    ");
    edtPort->SetTabOrder(2);

    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
}

TForm1::~TForm1() {
    delete PageLines;
    PageLines = nullptr;
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::FormCreate(TObject*) {
    if (!PageLines)
        PageLines = new TStringList();
    SetShortDateFormat("dd/mm/yyyy");
    dteKurs->SetDate(::Date());
    N4->SetChecked(false);
}

void TForm1::N4Click(TObject*) {
    N4->SetChecked(!N4->Checked());
    pSet->SetVisible(N4->Checked());
}

void TForm1::Button3Click(TObject*) {
    edtServer->SetText(DefaultServerAddress);
    edtTimeOut->SetText("20");
}

void TForm1::N2Click(TObject*) {
    Close();
}

void TForm1::N6Click(TObject*) {
    ShowMessage(kAbout);
}

void TForm1::FormClose(TObject*, TCloseAction&) {
    if (FBusy) {
        // The request still fills PageLines once its download returns: end
        // the download now and let the request free the list as it unwinds.
        FClosedWhileBusy = true;
        NMHTTP1->Abort();
    } else {
        delete PageLines;
        PageLines = nullptr;
    }
    // The settings were saved just before the close; settings that could
    // not be read or saved are told here, not only on stderr.
    if (const String problem = RegistrySettingsProblem(); !problem.empty())
        ShowMessage(problem);
}

String TForm1::DateText() const {
    return DateToStr(dteKurs->Date());
}

String TForm1::RequestURL() const {
    const String date = FRequestDate.empty() ? DateText() : FRequestDate;
    String server = Trim(edtServer->Text());
    // A proxy needs the whole URL with its scheme; a bare address has none.
    if (cbxProxy->Checked() && Pos("://", server) == 0)
        server = "http://" + server;
    return server + RatesPagePath + date;
}

void TForm1::SetStatus(const String& Text) {
    sb->SetSimpleText(Text);
    if (OnStatusText)
        OnStatusText(Text);
}

void TForm1::Button1Click(TObject*) {
    if (N4->Checked())
        N4->Click();
    Screen->SetCursor(crHourGlass);
    Button1->SetEnabled(false);
    FBusy = true;
    // Restores the window whatever happens below.
    struct Restore {
        TForm1* Form;
        ~Restore() {
            Form->FBusy = false;
            Form->FRequestDate.clear();
            Screen->SetCursor(crDefault);
            Form->Button1->SetEnabled(true);
            Form->SetStatus("");
            if (Form->FClosedWhileBusy) {
                delete Form->PageLines;
                Form->PageLines = nullptr;
                Form->FClosedWhileBusy = false;
            }
        }
    } restore{this};
    try {
        SetStatus("Соединение с сервером ЦБ..."_cp);
        if (!PageLines)
            PageLines = new TStringList();
        PageLines->Clear();
        Memo2->Lines()->Clear();

        int seconds = StrToIntDef(Trim(edtTimeOut->Text()), 20);
        if (seconds < 0)
            seconds = 20;
        const int timeOut = seconds * 1000 == 0 ? 1000 : seconds * 1000;

        if (cbxProxy->Checked()) {
            NMHTTP1->SetProxy(edtProxy->Text());
            NMHTTP1->SetProxyPort(StrToInt(Trim(edtPort->Text())));
        } else {
            // An unchecked box means a direct request, also after one through the proxy.
            NMHTTP1->SetProxy("");
            NMHTTP1->SetProxyPort(0);
        }

        NMHTTP1->SetTimeOut(timeOut);
        NMHTTP1->SetInputFileMode(false);
        NMHTTP1->SetOutputFileMode(false);
        NMHTTP1->SetReportLevel(2);

        // The report names the date the URL asked for, even if the picker
        // changes while the answer is on its way.
        FRequestDate = DateText();
        NMHTTP1->Get(RequestURL());
        if (FClosedWhileBusy)
            return;

        PageLines->SetText(NMHTTP1->Body());
        Check();
        SetStatus("Все сделано..."_cp);
    } catch (const Exception&) {
        // Closing the window ended the request; nobody waits for a box then.
        if (FClosedWhileBusy)
            return;
        ShowMessage(NMHTTP1->TimedOut() ? kTimedOutMessage : kFailedMessage);
    }
}

void TForm1::Check() {
    if (PageLines)
        AppendRatesReport(*PageLines, FRequestDate.empty() ? DateText() : FRequestDate,
                          *Memo2->Lines());
}

void TForm1::NMHTTP1Connect(TObject*) {
    SetStatus("Соединение с сервером ЦБ установлено..."_cp);
}

void TForm1::NMHTTP1Disconnect(TObject*) {}

void TForm1::NMHTTP1InvalidHost(bool& Handled) {
    // The name that could not be found: the proxy's while one is in use.
    const String name = NMHTTP1->Proxy().empty() ? Trim(edtServer->Text()) : Trim(NMHTTP1->Proxy());
    ShowMessage("Сервер с адресом ["_cp + name + "] не существует."_cp);
    Handled = false;
}

void TForm1::NMHTTP1HostResolved(TComponent*) {
    SetStatus("Адрес сервера распознан..."_cp);
}

void TForm1::NMHTTP1ConnectionFailed(TObject*) {
    SetStatus("Не могу подключиться к серверу ЦБ!"_cp);
}

void TForm1::NMHTTP1PacketRecvd(TObject*) {
    SetStatus("Получение данных: "_cp + IntToStr(NMHTTP1->BytesReceived()));
}

void TForm1::NMHTTP1Success(CmdType) {
    SetStatus("Все сделано."_cp);
}

void TForm1::NMHTTP1Failure(CmdType) {
    SetStatus("Ошибка при получении данных..."_cp);
}
