#include "gui/Forms.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "gui/Backend.h"
#include "gui/Dialogs.h"
#include "runtime/ExceptionHook.h"

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

// The application and the screen live as long as the process; they are
// made before main() so that every layer can reach them.
struct TGlobals {
    TGlobals() {
        Screen = new TScreen(nullptr);
        Application = new TApplication(nullptr);
    }
} Globals;

}  // namespace

// ---- TScreen ---------------------------------------------------------------------------------

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

void TScreen::SetCursor(TCursor value) {
    if (value == FCursor)
        return;
    FCursor = value;
    if (TGuiBackend* backend = GuiBackend())
        backend->CursorChanged(value);
}

int TScreen::Width() const {
    return win::GetScreenMetrics().Width;
}

int TScreen::Height() const {
    return win::GetScreenMetrics().Height;
}

int TScreen::PixelsPerInch() const {
    return win::GetScreenMetrics().PixelsPerInch;
}

win::RECT TScreen::WorkAreaNearest(const win::RECT& rect) const {
    std::vector<win::RECT> areas;
    if (TGuiBackend* backend = GuiBackend())
        areas = backend->WorkAreas();
    if (areas.empty())
        areas.push_back(win::RECT{0, 0, Width(), Height()});
    // The largest overlap wins; with none, the smallest gap.
    auto span = [](long long low, long long high, long long areaLow, long long areaHigh) {
        return std::min(high, areaHigh) - std::max(low, areaLow);
    };
    win::RECT best = areas.front();
    long long bestOverlap = -1, bestGap = LLONG_MAX;
    for (const win::RECT& area : areas) {
        const long long w = span(rect.left, rect.right, area.left, area.right);
        const long long h = span(rect.top, rect.bottom, area.top, area.bottom);
        const long long overlap = w > 0 && h > 0 ? w * h : 0;
        const long long gap =
            std::max(0LL, -w) * std::max(0LL, -w) + std::max(0LL, -h) * std::max(0LL, -h);
        if (overlap > bestOverlap || (overlap == 0 && bestOverlap == 0 && gap < bestGap)) {
            best = area;
            bestOverlap = overlap;
            bestGap = gap;
        }
    }
    return best;
}

TCustomForm* TScreen::Forms(int index) const {
    if (index < 0 || index >= FormCount()) {
        throw EListError(String("List index out of bounds (%d)"), index);
    }
    return FForms[static_cast<std::size_t>(index)];
}

TDataModule* TScreen::DataModules(int index) const {
    if (index < 0 || index >= DataModuleCount()) {
        throw EListError(String("List index out of bounds (%d)"), index);
    }
    return FDataModules[static_cast<std::size_t>(index)];
}

// ---- TApplication ------------------------------------------------------------------------------

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
    String exe = ExeName();
    std::size_t slash = exe.find_last_of('/');
    FTitle = slash == String::npos ? exe : exe.substr(slash + 1);
    Initialize();
}

TApplication::~TApplication() {
    SetApplicationExceptionHandler(nullptr);
    if (FHandle)
        win::DestroyWindow(FHandle);
}

void TApplication::Initialize() {
    SetApplicationExceptionHandler(
        [](std::exception_ptr error) { Application->HandleException(error, nullptr); });
    FTerminated = false;
}

String TApplication::ExeName() const {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return String();
    return String(buffer, static_cast<std::size_t>(n));
}

void TApplication::Run() {
    if (!FMainForm)
        return;
    FMainForm->Show();
    while (!FTerminated)
        HandleMessage();
    DoneApplication();
}

void TApplication::Terminate() {
    FTerminated = true;
    if (FHandle)
        win::PostMessage(FHandle, win::WM_NULL, 0, 0);
}

void TApplication::ProcessMessages() {
    if (TGuiBackend* backend = GuiBackend()) {
        backend->ProcessEvents();
    } else {
        win::ProcessMessages();
    }
}

void TApplication::HandleMessage() {
    if (TGuiBackend* backend = GuiBackend()) {
        backend->WaitForEvents();
        backend->ProcessEvents();
        return;
    }
    if (!win::MessagesPending())
        win::WaitMessage(-1);
    win::ProcessMessages();
}

void TApplication::HandleException(TObject* Sender) {
    HandleException(std::current_exception(), Sender);
}

void TApplication::HandleException(std::exception_ptr error, TObject* Sender) {
    if (!error)
        return;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return;
    } catch (...) {
    }
    if (OnException) {
        OnException(Sender, error);
    } else {
        ShowException(error);
    }
}

void TApplication::ShowException(std::exception_ptr error) {
    String text;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        text = e.Message();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        text = "Unknown exception";
    }
    MessageBox(text, FTitle, win::MB_OK | win::MB_ICONSTOP);
}

int TApplication::MessageBox(const String& text, const String& caption, win::UINT flags) {
    return gui_detail::ShowMessageBoxRecorded(text, caption, flags);
}

win::HWND TApplication::Handle() {
    if (FHandle)
        return FHandle;
    static const char* const className = "TApplication";
    win::HINSTANCE instance = win::GetModuleHandle(nullptr);
    win::WNDCLASSA existing;
    if (!win::GetClassInfo(instance, className, &existing)) {
        win::WNDCLASSA wc;
        wc.lpfnWndProc = &TApplication::AppWndProc;
        wc.hInstance = instance;
        wc.lpszClassName = className;
        win::RegisterClass(&wc);
    }
    FHandle =
        win::CreateWindowEx(0, className, FTitle.c_str(),
                            win::WS_POPUP | win::WS_CAPTION | win::WS_SYSMENU | win::WS_MINIMIZEBOX,
                            0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    return FHandle;
}

void TApplication::Minimize() {
    if (FMinimized)
        return;
    FMinimized = true;
    win::ShowWindow(Handle(), win::SW_MINIMIZE);
    if (TGuiBackend* backend = GuiBackend())
        backend->ApplicationMinimized(true);
    if (OnMinimize)
        OnMinimize(this);
}

void TApplication::Restore() {
    if (!FMinimized)
        return;
    FMinimized = false;
    win::ShowWindow(Handle(), win::SW_RESTORE);
    if (TGuiBackend* backend = GuiBackend())
        backend->ApplicationMinimized(false);
    if (OnRestore)
        OnRestore(this);
}

void TApplication::DoneApplication() {
    FMainForm = nullptr;
    Destroying();
    while (ComponentCount() > 0) {
        TComponent* component = Components(ComponentCount() - 1);
        if (auto* form = dynamic_cast<TCustomForm*>(component)) {
            FreeForm(form);
        } else if (auto* module = dynamic_cast<TDataModule*>(component)) {
            FreeForm(module);
        } else {
            delete component;
        }
    }
    FComponentState.Exclude(csDestroying);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FMainForm)
        FMainForm = nullptr;
}

win::LRESULT TApplication::AppWndProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                      win::LPARAM lParam) {
    try {
        switch (msg) {
            case win::WM_SYSCOMMAND:
                switch (wParam & 0xFFF0) {
                    case win::SC_MINIMIZE:
                        Application->Minimize();
                        return 0;
                    case win::SC_RESTORE:
                        Application->Restore();
                        return 0;
                    case win::SC_CLOSE:
                        if (Application->FMainForm)
                            Application->FMainForm->Close();
                        return 0;
                    default:
                        break;
                }
                break;
            case win::WM_CLOSE:
                if (Application->FMainForm)
                    Application->FMainForm->Close();
                return 0;
            case CM_RELEASE: {
                auto* form = reinterpret_cast<TCustomForm*>(lParam);
                for (int i = 0; i < Screen->FormCount(); ++i) {
                    if (Screen->Forms(i) == form) {
                        FreeForm(form);
                        break;
                    }
                }
                return 0;
            }
            case win::WM_NULL:
                return 0;
            default:
                break;
        }
    } catch (...) {
        Application->HandleException(std::current_exception(), nullptr);
        return 0;
    }
    return win::DefWindowProc(hwnd, msg, wParam, lParam);
}
