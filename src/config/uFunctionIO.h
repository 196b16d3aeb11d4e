// File helpers of the order thread and the log set-up: listing files by mask, and the file
// name part of the log files.
#pragma once

#include <string>
#include <vector>

// Appends the full path of every file directly inside Directory whose name matches Mask
// ("*", "?", case-insensitive; "*.*" matches every name), in the order the file system lists
// them. Subdirectories are neither entered nor listed; List is not emptied first. An empty
// Directory text, or a directory that does not exist or cannot be read, raises EInOutError.
void ListFiles(std::vector<std::string>& List, const std::string& Directory, const std::string& Mask);

// The file name without directory and extension, trimmed, with every character other than
// "-", "0"-"9", "A"-"Z", "_", "a"-"z" replaced by "_" (one per UTF-16 code unit, so the
// result is as long as the name); "Zentrik" when nothing is left.
std::string FileNameTag(const std::string& FileName);
