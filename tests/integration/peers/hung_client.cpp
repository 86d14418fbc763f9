// A file-sharing client whose thread stops answering: its main window, a banner inside it
// and a browser frame are made, then the thread sleeps without reading its messages.
// Usage: hung_client <milliseconds>
#include <windows.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const char* name : {"HungClientMain", "AdBanner", "IEFrame"}) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = instance;
        wc.lpszClassName = name;
        RegisterClassA(&wc);
    }
    HWND main = CreateWindowExA(0, "HungClientMain", "Kazaa hung client", WS_OVERLAPPEDWINDOW, 0, 0,
                                200, 100, nullptr, nullptr, instance, nullptr);
    CreateWindowExA(0, "AdBanner", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, main, nullptr, instance,
                    nullptr);
    CreateWindowExA(0, "IEFrame", "Sponsored", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                    nullptr, instance, nullptr);
    Sleep(static_cast<DWORD>(std::stoul(argv[1])));
    return 0;
}
