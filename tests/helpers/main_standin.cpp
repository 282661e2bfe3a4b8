// Stands in for zbMain.exe beside a scheduler under test: appends the
// arguments it was started with (or "(none)") as one line to
// "main_started.txt" in its own folder, and ends.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string>

int wmain() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::string line;
    for (int i = 1; argv && i < argc; ++i) {
        if (!line.empty())
            line += ' ';
        for (const wchar_t* p = argv[i]; *p; ++p)
            line += static_cast<char>(*p < 0x80 ? *p : '?');
    }
    if (line.empty())
        line = "(none)";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path);
    file = file.substr(0, file.find_last_of(L'\\') + 1) + L"main_started.txt";
    FILE* f = _wfopen(file.c_str(), L"ab");
    if (f) {
        fprintf(f, "%s\n", line.c_str());
        fclose(f);
    }
    return 0;
}
