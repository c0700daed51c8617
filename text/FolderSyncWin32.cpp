#include "text/FolderSync.h"

void SyncFolderOf(const char* /*path*/) {}
