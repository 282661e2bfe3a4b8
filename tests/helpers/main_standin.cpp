// Stands in for zbMain.exe beside a scheduler under test: appends the
// arguments it was started with (or "(none)") as one line to
// "main_started.txt" in its own folder, and its whole command line, as the
// starter formed it, to "main_cmdline.txt"; then it ends.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string>

namespace {

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (const wchar_t* p = text; *p; ++p)
        narrow += static_cast<char>(*p < 0x80 ? *p : '?');
    return narrow;
}

void AppendLine(const std::wstring& file, const std::string& line) {
    FILE* f = _wfopen(file.c_str(), L"ab");
    if (f) {
        fprintf(f, "%s\n", line.c_str());
        fclose(f);
    }
}

} // namespace

int wmain() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::string line;
    for (int i = 1; argv && i < argc; ++i) {
        if (!line.empty())
            line += ' ';
        line += Narrow(argv[i]);
    }
    if (line.empty())
        line = "(none)";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    dir = dir.substr(0, dir.find_last_of(L'\\') + 1);
    AppendLine(dir + L"main_started.txt", line);
    AppendLine(dir + L"main_cmdline.txt", Narrow(GetCommandLineW()));
    return 0;
}
