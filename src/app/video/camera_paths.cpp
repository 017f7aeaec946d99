#include "camera_paths.h"

namespace {

// Windows compares file names without regard to case; ASCII is enough for
// the folders compared here, and anything else must match exactly.
std::wstring Folded(const std::wstring& path) {
  std::wstring out = path;
  for (wchar_t& c : out) {
    if (c == L'/') c = L'\\';
    else if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

}  // namespace

bool PathLiesUnder(const std::wstring& path, const std::wstring& folder) {
  std::wstring p = Folded(path), f = Folded(folder);
  if (f.empty() || p.find(L"\\..\\") != std::wstring::npos) return false;
  if (f.back() != L'\\') f += L'\\';
  return p.size() > f.size() && p.compare(0, f.size(), f) == 0;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return Folded(a) == Folded(b); }
