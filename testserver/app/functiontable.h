// The table of the built-in functions this server answers and refuses, made
// by calling each one (docs/functions.md is its output).
#pragma once

#include <string>

// Writes the table as Markdown to stdout; returns the exit status.
int printFunctionTable(const std::string &dataDir);
