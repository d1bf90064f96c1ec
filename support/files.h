// Files by what they are, not by how a path spells them; the folders above
// a file and its numbered older copies.
#pragma once

#include <windows.h>

#include <string>

// The final path of an existing file or folder (links and junctions
// resolved, in the volume's own spelling); false, with the error, when it
// cannot be opened.
bool FinalPathOf(const wchar_t* path, std::wstring& finalPath, DWORD& error);
// Both paths name one existing file.
bool NameSameFile(const wchar_t* first, const wchar_t* second);
// Nothing is at `path` any more (its file or a folder on its way is missing).
bool FileIsGone(const wchar_t* path);
// Creates every missing folder above `path` (a file's path); errors ignored.
void CreateParentFolders(const wchar_t* path);
// Moves "<path>.<kept-1>" to ".<kept>" (replacing the oldest), and so on
// down to "<path>" to ".1"; from a missing ".<n>" down only, so nothing is
// replaced. A move that fails ends the rotation there, so no newer file is
// ever moved onto one that stayed: false, with that move's error.
bool RotateNumberedFiles(const wchar_t* path, int kept, DWORD& error);
