// The launcher's command line: a count, then that many host and port pairs, separated by blanks.
#pragma once
#include <string>
#include <vector>

struct ServerEntry;

// Reads the server list. False when the line cannot be used: a count of 0, a count that is not a
// number or is negative, or fewer pairs than the count promises. Tokens are cut to 31 characters.
bool ParseServerList(const std::string& commandLine, std::vector<ServerEntry>& servers);
