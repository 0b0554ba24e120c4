/* Loads a plug-in module as the strictest host does: LoadLibraryW of its full
 * path, no search flags, from wherever this program is run; then looks up its
 * entry. Prints "loaded" and exits 0, or says what failed and exits 1.
 *
 *   plain_loader.exe C:\path\to\Zemo3AfterEffectsExport.aex */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: plain_loader MODULE\n");
        return 2;
    }
    HMODULE module = LoadLibraryW(argv[1]);
    if (!module) {
        fwprintf(stderr, L"LoadLibraryW(%ls) failed: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    if (!GetProcAddress(module, "EntryPointFunc")) {
        fwprintf(stderr, L"%ls exports no EntryPointFunc: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    wprintf(L"loaded\n");
    return 0;
}
