// System metrics of the current screen, and the module handle.

#include "platform/messages/MessagesState.h"

namespace win {

using namespace detail;

int GetSystemMetrics(int index) {
    const auto& sc = S().screen;
    switch (index) {
        case SM_CXSCREEN:
        case SM_CXFULLSCREEN:
            return sc.Width;
        case SM_CYSCREEN:
            return sc.Height;
        case SM_CYFULLSCREEN:
            return sc.Height - 19;
        case SM_CXVSCROLL:
        case SM_CYHSCROLL:
            return 17;
        case SM_CYCAPTION:
        case SM_CYMENU:
            return 19;
        case SM_CXBORDER:
        case SM_CYBORDER:
            return 1;
        case SM_CXDLGFRAME:
        case SM_CYDLGFRAME:
            return 3;
        case SM_CXFRAME:
        case SM_CYFRAME:
            return 4;
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        case SM_CXMIN:
            return 112;
        case SM_CYMIN:
            return 27;
        case SM_CXMINIMIZED:
            return 160;
        case SM_CYMINIMIZED:
            return 24;
        case SM_CXMAXIMIZED:
            return sc.Width + 2 * 4;
        case SM_CYMAXIMIZED:
            return sc.Height + 2 * 4;
        case SM_CMONITORS:
            return 1;
        default:
            return 0;
    }
}

HINSTANCE GetModuleHandle(const char* moduleName) {
    if (moduleName != nullptr) {
        return nullptr;
    }
    static char module;
    return reinterpret_cast<HINSTANCE>(&module);
}

// ---- backend hook -----------------------------------------------------------------------------

void SetScreenMetrics(const ScreenMetrics& metrics) {
    S().screen = metrics;
}
ScreenMetrics GetScreenMetrics() {
    return S().screen;
}

}  // namespace win
