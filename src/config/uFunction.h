// Small helpers of the entry routine and the event handlers: proxy addresses, tag removal,
// empty control files. They keep no state and do not log.
#pragma once

#include <string>

// Splits "[protocol://][user:password@]host[:port][/path][?query]". Defaults: protocol "http",
// port "80" ("443" for https, "21" for ftp, in any letter case); an explicit port replaces them.
// A bracketed IPv6 host loses its brackets; an empty host becomes "localhost". Nothing is
// validated. Returns "/" followed by everything behind the host part.
std::string ParseURL(const std::string& Url, std::string& Protocol, std::string& User, std::string& Password,
                     std::string& Host, std::string& Port, std::string& Path, std::string& Query);

// Deletes every run from a "<" through the first ">" behind it, searching again from the start
// after each deletion. A "<" with no ">" behind it ends the search and stays, with the rest of
// the text: a value that merely contains "<" (a password, say) loses nothing.
std::string StripTags(const std::string& Text);

// Creates the file, or empties an existing one. False when it cannot be created or opened for
// writing; never raises.
bool CreateEmptyFile(const std::string& FileName);
