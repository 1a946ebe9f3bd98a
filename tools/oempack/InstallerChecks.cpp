// Checks of the installer's program image and of the language settings' SelectLanguage.
#include "InstallerChecks.h"

#include "CommandLine.h"
#include "Console.h"
#include "LauncherSearch.h"
#include "LauncherStamp.h"
#include "PeFormat.h"
#include "PeImage.h"

namespace {

Status NotAProgram(const std::string& path, const std::string& detail)
{
    return Status::Error(kErrorBadExeFormat, path + " is not a Windows program (" + detail + ")");
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool SameNoCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = (b[i] >= 'A' && b[i] <= 'Z') ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// The leading decimal number of text, as GetPrivateProfileIntA takes it; 0
// without one. Clamped far outside the values that matter.
long long LeadingNumber(const std::string& text)
{
    size_t at = 0;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        ++at;
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = value < 1000000000000LL ? value * 10 + (text[at] - '0') : value;
    return negative ? -value : value;
}

}  // namespace

Status CheckInstallerProgram(const std::string& path, uint16_t* machine)
{
    PeImage image;
    const Status opened = PeImage::Open(path.c_str(), &image);
    if (!opened) {
        if (opened.Code() != kErrorBadExeFormat)
            return SystemFailure(opened.Code(), "cannot read the installer " + path);
        return NotAProgram(path, ProgramFaultDetail(path, opened));
    }
    if ((image.Characteristics() & pe::kCoffDll) != 0)
        return NotAProgram(path, "a DLL");
    if ((image.Characteristics() & pe::kCoffExecutableImage) == 0)
        return NotAProgram(path, "not marked as an executable image");
    *machine = image.Machine();
    return Status::Ok();
}

std::string InstallerMachineWarning(const std::string& path, uint16_t machine, LauncherArchitecture launcher)
{
    if (machine == pe::kMachineI386)
        return std::string();
    if (machine == pe::kMachineAmd64)
        return launcher == LauncherArchitecture::kX86
                   ? path + " is an x64 program: it will not start on 32-bit Windows, where the x86 Setup.exe runs"
                   : std::string();
    const std::string what = machine == pe::kMachineArm64 ? std::string("an ARM64 program")
                                                         : "a program for machine " + MachineName(machine);
    return path + " is " + what + ": it will not start on x86 or x64 Windows";
}

LanguageIniValues ReadLanguageIniText(const std::string& text)
{
    LanguageIniValues values;
    bool inLanguage = false, sawUseDefault = false, sawSelectLanguage = false;
    // A later [LANGUAGE] section is never read: the first one found is.
    bool languageSeen = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            const bool language = SameNoCase(Trimmed(line.substr(1, close == std::string::npos ? std::string::npos
                                                                                                : close - 1)),
                                             "LANGUAGE");
            inLanguage = language && !languageSeen;
            languageSeen = languageSeen || language;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inLanguage || equals == std::string::npos)
            continue;
        const std::string key = Trimmed(line.substr(0, equals));
        std::string value = Trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        if (SameNoCase(key, "UseDefault") && !sawUseDefault) {
            values.useDefault = LeadingNumber(value);
            sawUseDefault = true;
        } else if (SameNoCase(key, "SelectLanguage") && !sawSelectLanguage) {
            values.selectLanguage = value;
            sawSelectLanguage = true;
        }
    }
    return values;
}

std::string SelectLanguageWarning(const std::string& path, const std::string& languageIni)
{
    const LanguageIniValues values = ReadLanguageIniText(languageIni);
    if (values.useDefault > 0 || IsValidLanguageCode(values.selectLanguage))
        return std::string();
    return path + ": SelectLanguage '" + values.selectLanguage +
           "' is not a language identifier (0 to 65535); it will reach the installer's command line as written, "
           "after /L";
}
