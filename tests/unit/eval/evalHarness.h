// Runs script texts through the whole run sequence and captures what they
// print (script output and diagnostics alike).
#pragma once
#include <string>
#include <vector>

// Writes szText to a fresh file NAME.krv in a temporary folder and runs it
// with the given arguments; returns everything printed.
std::string runScript(const std::string &sText, const std::vector<std::string> &args = {},
                      const std::string &sName = "t");
