#pragma once

#include <string>

#include <CLI/CLI.hpp>

// The programs' options, parsed by CLI11: `--opt value` and `--opt=value`
// alike, -h and --help. A bad option is answered in one line on standard
// error, "PROGRAM: WHY; try --help", and exit status 2.

// Readies a program's parser: -h and --help as a flag of its own, so that
// each program prints its own usage, and every word that is no option kept
// for parse_command_line to refuse by name.
void prepare_command_line(CLI::App& app, bool& help);

// An option that takes a value, where a second one replaces the first, as
// the programs always took them; `needs` says what it takes ("a list of
// names"), for the line that refuses it without one.
CLI::Option* add_value_option(CLI::App& app, const std::string& name, std::string& value, const std::string& needs);

// Parses the command line; empty where it is good, else why not: an unknown
// option by name, an option without the value it needs.
std::string parse_command_line(CLI::App& app, int argc, char** argv);

// Writes the one line that refuses a bad option and gives exit status 2.
int refuse_option(const std::string& why);
