#include "setup_logic.h"

#include <cwctype>

SetupOptions ParseSetupArguments(const std::vector<std::wstring>& args) {
  SetupOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"/simular") {
      if (i + 1 < args.size()) {
        options.simulate = true;
        options.testBase = args[++i];
      }
    } else if (a == L"/silencioso") {
      options.silent = true;
    } else if (a == L"/inicio") {
      options.startWithWindows = true;
    } else if (a == L"/desinstalar") {
      options.uninstall = true;
    }
  }
  return options;
}

SetupLocations TestLocations(const std::wstring& base) {
  SetupLocations l;
  l.currentUserRegistry = true;
  l.uninstallKey = kTestUninstallKey;
  l.runKey = kTestRunKey;
  // Like a known folder Windows could not give: no folder at all, never the
  // root of the current drive.
  if (base.empty()) return l;
  l.desktopFolder = base + L"\\_Escritorio";
  l.startMenuFolder = base + L"\\_MenuInicio";
  l.installFolder = base + L"\\Orvane";
  l.logPath = l.installFolder + L"\\..\\instalador.log";
  return l;
}

SetupLocations NormalLocations(const std::wstring& programFiles, const std::wstring& publicDesktop,
                               const std::wstring& commonPrograms, const std::wstring& localAppData) {
  SetupLocations l;
  l.uninstallKey = kUninstallKey;
  l.runKey = kRunKey;
  // A folder Windows could not give stays empty rather than turning into a
  // path at the root of the current drive.
  if (!programFiles.empty()) l.installFolder = programFiles + L"\\Orvane";
  l.desktopFolder = publicDesktop;
  l.startMenuFolder = commonPrograms;
  if (!localAppData.empty()) l.logPath = localAppData + L"\\Temp\\Orvane-Setup.log";
  return l;
}

InstallPaths PathsIn(const std::wstring& installFolder) {
  return {installFolder + L"\\Orvane.exe", installFolder + L"\\OrvaneCam.dll", installFolder + L"\\desinstalar.exe"};
}

std::wstring FolderOf(const std::wstring& path) {
  size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? path : path.substr(0, cut);
}

namespace {

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

}  // namespace

std::wstring UninstallFolder(const std::wstring& runningPath, const std::wstring& normalFolder) {
  size_t cut = runningPath.rfind(L'\\');
  std::wstring name = cut == std::wstring::npos ? runningPath : runningPath.substr(cut + 1);
  return SameNameIgnoringCase(name, L"desinstalar.exe") ? FolderOf(runningPath) : normalFolder;
}

std::wstring ProgramOfCommand(const std::wstring& command) {
  if (!command.empty() && command[0] == L'"') {
    size_t end = command.find(L'"', 1);
    return end == std::wstring::npos ? std::wstring() : command.substr(1, end - 1);
  }
  return command.substr(0, command.find(L' '));
}

CloseOutcome CloseRunningCopies(const std::function<uint32_t()>& nextCopy,
                                const std::function<CloseResult(uint32_t)>& close) {
  uint32_t last = 0;
  for (int round = 0;; ++round) {
    const uint32_t pid = nextCopy();
    if (pid == 0) return {};
    if (pid == last || round == kMaxCloseRounds) return {CloseStop::kStillOpen, pid};
    last = pid;
    if (close(pid) == CloseResult::kNotOpened) return {CloseStop::kNotOpened, pid};
  }
}

std::wstring RunCommand(const std::wstring& program) { return Quoted(program) + L" --oculta"; }

std::vector<RegistryValue> UninstallEntry(const InstallPaths& paths, const std::wstring& installFolder,
                                          const std::wstring& uninstaller) {
  auto text = [](const wchar_t* name, std::wstring value) {
    return RegistryValue{.name = name, .text = std::move(value)};
  };
  auto number = [](const wchar_t* name, uint32_t value) {
    return RegistryValue{.name = name, .isNumber = true, .text = {}, .number = value};
  };
  return {
      text(L"DisplayName", L"Orvane"),
      text(L"DisplayVersion", kDisplayVersion),
      text(L"Publisher", L"Orvane"),
      text(L"DisplayIcon", paths.program + L",0"),
      text(L"InstallLocation", installFolder),
      text(L"UninstallString", Quoted(uninstaller) + L" /desinstalar"),
      text(L"QuietUninstallString", Quoted(uninstaller) + L" /desinstalar /silencioso"),
      text(L"URLInfoAbout", kProductAddress),
      number(L"NoModify", 1),
      number(L"NoRepair", 1),
      number(L"EstimatedSize", 1024),
  };
}

std::wstring MissingPlatform(bool mediaFoundation, bool virtualCamera) {
  if (!mediaFoundation) {
    return L"Esta PC no tiene Media Foundation, que Orvane necesita para el video. En las ediciones N de Windows "
           L"se agrega con el Media Feature Pack (Configuración > Aplicaciones > Características opcionales).";
  }
  if (!virtualCamera) return L"Orvane necesita Windows 11: esta versión de Windows no puede crear la cámara Orvane Cam.";
  return {};
}
