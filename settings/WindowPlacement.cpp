#include <algorithm>
#include <limits>

#include "settings/AppUtils.h"
#include "settings/Placemnt.h"

using namespace win;

namespace {

// Word `n` (from 1) of a position text: maximal runs of characters other
// than blank and ",".
String PosWord(const String& text, int n) {
    std::size_t i = 0;
    for (int word = 1; i < text.size(); ++word) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ','))
            ++i;
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != ',')
            ++end;
        if (end == i)
            break;
        if (word == n)
            return text.substr(i, end - i);
        i = end;
    }
    return String();
}

int PosNumber(const String& text, int n, int def) {
    return StrToIntDef(PosWord(text, n), def);
}

// A coordinate plus a size, kept within the coordinate range.
LONG ClampedSum(LONG a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<LONG>(std::clamp<long long>(sum, std::numeric_limits<LONG>::min(),
                                                   std::numeric_limits<LONG>::max()));
}

// Whether the rectangle's width and height are coordinates too: a damaged
// store must not hand the window a size that overflows.
bool SizeFits(const RECT& r) {
    const long long width = static_cast<long long>(r.right) - r.left;
    const long long height = static_cast<long long>(r.bottom) - r.top;
    constexpr long long top = std::numeric_limits<LONG>::max();
    return width <= top && height <= top && height >= -top;
}

// A frame that would lie partly or wholly off the work area of its nearest
// screen (a monitor removed, another scale) is moved in, and shrunk only
// where it does not fit; one on the screen stays exactly where it is.
void KeepInWorkArea(RECT& r) {
    const RECT area = Screen->WorkAreaNearest(r);
    auto fit = [](LONG& low, LONG& high, LONG areaLow, LONG areaHigh) {
        const long long size = std::min(static_cast<long long>(high) - low,
                                        static_cast<long long>(areaHigh) - areaLow);
        long long start = std::min<long long>(low, areaHigh - size);
        start = std::max<long long>(start, areaLow);
        low = static_cast<LONG>(start);
        high = static_cast<LONG>(start + size);
    };
    fit(r.left, r.right, area.left, area.right);
    fit(r.top, r.bottom, area.top, area.bottom);
}

}  // namespace

String TFormPlacement::ScreenSizeSuffix() {
    return Format("(%dx%d)", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

void TFormPlacement::WriteWindowPlacement(TCustomForm* Form, TObject* Store,
                                          const String& Section) {
    WINDOWPLACEMENT placement;
    placement.length = sizeof(WINDOWPLACEMENT);
    GetWindowPlacement(Form->Handle(), &placement);
    if (Form == Application->MainForm() && IsIconic(Application->Handle()))
        placement.showCmd = SW_SHOWMINIMIZED;
    if (Form->FormStyle() == fsMDIChild && Form->WindowState() == wsMinimized)
        placement.flags |= WPF_SETMINPOSITION;
    StoreWriteInteger(Store, Section, "Flags", static_cast<int>(placement.flags));
    StoreWriteInteger(Store, Section, "ShowCmd", static_cast<int>(placement.showCmd));
    StoreWriteInteger(Store, Section, "PixelsPerInch", Screen->PixelsPerInch());
    const String suffix = ScreenSizeSuffix();
    const String minMax =
        Format("%d,%d,%d,%d", placement.ptMinPosition.x, placement.ptMinPosition.y,
               placement.ptMaxPosition.x, placement.ptMaxPosition.y);
    StoreWriteString(Store, Section, "MinMaxPos" + suffix, minMax);
    StoreWriteString(Store, Section, "MinMaxPos", minMax);
    const RECT& r = placement.rcNormalPosition;
    const String norm = Format("%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
    StoreWriteString(Store, Section, "NormPos" + suffix, norm);
    StoreWriteString(Store, Section, "NormPos", norm);
}

void TFormPlacement::ReadWindowPlacement(TCustomForm* Form, TObject* Store, const String& Section,
                                         bool LoadState, bool LoadPosition) {
    if (!LoadState && !LoadPosition)
        return;
    const HWND handle = Form->Handle();
    WINDOWPLACEMENT placement;
    placement.length = sizeof(WINDOWPLACEMENT);
    GetWindowPlacement(handle, &placement);
    // Applying the record must not show a window that is still hidden.
    if (!IsWindowVisible(handle))
        placement.showCmd = SW_HIDE;
    if (LoadPosition) {
        bool found = false;
        placement.flags = static_cast<UINT>(
            StoreReadInteger(Store, Section, "Flags", static_cast<int>(placement.flags)));
        const String suffix = ScreenSizeSuffix();
        String text = StoreReadString(Store, Section, "MinMaxPos" + suffix, "");
        if (text.empty())
            text = StoreReadString(Store, Section, "MinMaxPos", "");
        if (!text.empty()) {
            placement.ptMinPosition = POINT{PosNumber(text, 1, 0), PosNumber(text, 2, 0)};
            placement.ptMaxPosition = POINT{PosNumber(text, 3, 0), PosNumber(text, 4, 0)};
            found = true;
        }
        text = StoreReadString(Store, Section, "NormPos" + suffix, "");
        if (text.empty())
            text = StoreReadString(Store, Section, "NormPos", "");
        if (!text.empty()) {
            RECT& r = placement.rcNormalPosition;
            r.left = PosNumber(text, 1, Form->Left());
            r.top = PosNumber(text, 2, Form->Top());
            r.right = PosNumber(text, 3, Form->Left() + Form->Width());
            r.bottom = PosNumber(text, 4, Form->Top() + Form->Height());
            found = true;
        }
        // A place stored at another resolution would be wrong here.
        if (StoreReadInteger(Store, Section, "PixelsPerInch", Screen->PixelsPerInch()) !=
            Screen->PixelsPerInch())
            found = false;
        if (found) {
            RECT& r = placement.rcNormalPosition;
            if (Form->BorderStyle() != bsSizeable && Form->BorderStyle() != bsSizeToolWin) {
                r.right = ClampedSum(r.left, Form->Width());
                r.bottom = ClampedSum(r.top, Form->Height());
            }
            if (r.right > r.left && SizeFits(r)) {
                if ((Form->Position() == poScreenCenter || Form->Position() == poDesktopCenter) &&
                    !Form->ComponentState().Contains(csDesigning)) {
                    Form->SetPosition(poDesigned);
                }
                KeepInWorkArea(r);
                SetWindowPlacement(handle, &placement);
            }
        }
    }
    if (LoadState) {
        const bool mainOrNone = Form == Application->MainForm() || !Application->MainForm();
        TWindowState state = wsNormal;
        if (mainOrNone && (Form->FormStyle() == fsMDIForm ||
                           (Form->FormStyle() == fsNormal && Form->Position() == poDefault)))
            state = wsMaximized;
        switch (StoreReadInteger(Store, Section, "ShowCmd", SW_HIDE)) {
            case SW_SHOWNORMAL:
            case SW_SHOW:
            case SW_RESTORE:
                state = wsNormal;
                break;
            case SW_SHOWMINIMIZED:
            case SW_MINIMIZE:
            case SW_SHOWMINNOACTIVE:
                state = wsMinimized;
                break;
            case SW_SHOWMAXIMIZED:
                state = wsMaximized;
                break;
            default:
                break;
        }
        if (state == wsMinimized && mainOrNone) {
            // The application minimises, not the form: the form's state
            // becomes normal for its next showing, and a form already on
            // screen is left as it is.
            Form->SetRecordedWindowState(wsNormal);
            PostMessage(Application->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
            return;
        }
        // An MDI frame or child has its state arranged by the frame; only
        // the recorded state changes.
        if (Form->FormStyle() == fsMDIChild || Form->FormStyle() == fsMDIForm)
            Form->SetRecordedWindowState(state);
        else
            Form->SetWindowState(state);
    }
    Form->Repaint();
}
