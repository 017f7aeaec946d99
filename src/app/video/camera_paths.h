#pragma once
// Where the camera DLL may be registered from: Windows loads it into the
// Frame Server, a service that runs as Local Service. It cannot read a
// user's folders (the camera would fail while the window says it is
// ready), and a DLL in a folder the user can write would run as a service:
// only the installer's place, under Program Files, will do.
#include <string>

// `path` names something inside `folder` (Windows paths, case-insensitive,
// either separator; "..\" anywhere makes it outside).
bool PathLiesUnder(const std::wstring& path, const std::wstring& folder);
// The two paths name the same file (case-insensitive, either separator).
bool SamePath(const std::wstring& a, const std::wstring& b);
