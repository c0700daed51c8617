#pragma once
// The folder's entry of a file just made lasts a power loss only once the
// folder itself is forced to stable storage. One implementation per platform
// (FolderSyncPosix.cpp, FolderSyncWin32.cpp).

// Forces the folder that holds path to stable storage where the system
// allows (POSIX: fsync of the folder; Windows: its file system keeps folder
// entries in its own journal, so nothing is done). Failures are ignored: the
// file's own data is forced by its writer.
void SyncFolderOf(const char* path);
