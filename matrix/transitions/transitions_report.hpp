#pragma once

#include <string>
#include <vector>

#include "console/json_document.hpp"
#include "matrix/transitions/transitions.hpp"

// The transitions' part of the report, the JSON and the listing.

// The report's transitions section: how the three figures are measured,
// then for each kind its latency with no state write and each state's
// figures, best and typical, marked where every window agrees (*) and where
// a figure's runs fall in two modes (~), with those modes.
std::string transitions_report(const TransitionTable& table);

// The transitions object of the JSON document: the chain lengths and
// windows, the figures' names and how their modes are judged, and for each
// kind and state its figures and its windows' runs.
Json transitions_json(const TransitionTable& table);

// Time-stamp ticks per core cycle of every usable transition window.
std::vector<double> transition_window_rulers(const TransitionTable& table);

// The code and bytes of every transition routine the program has, in the
// benchmark's listing format.
std::string transition_listings();
