// Telling files apart by what they are, not by how a path spells them.
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
