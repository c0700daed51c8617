#pragma once
// A small file rewritten in place and forced to stable storage, for a note
// that other programs may rewrite at the same moment: each writes its whole
// text at the file's start with one write, so that a reader finds one
// writer's text whole when all texts have the same length (pad them). A
// text torn by a power loss is for the reader to notice (a note that does
// not parse is no note). One implementation per platform
// (SmallFilePosix.cpp, SmallFileWin32.cpp).

#include <string>

// Writes text at the start of the file at path (made when missing, its
// folder forced to disk then), cuts anything after it, and forces the file
// to stable storage. False, with the system's words in why, when any of it
// fails.
bool RewriteSmallFile(const char* path, const std::string& text, std::string& why);
