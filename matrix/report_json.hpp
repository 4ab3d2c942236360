#pragma once

#include <string>
#include <vector>

#include "clock/calibration.hpp"
#include "console/json_document.hpp"
#include "matrix/chain_windows.hpp"
#include "matrix/modes.hpp"

// What the matrix's JSON sections share: a window's runs.

// Each window's ruler, as [short, long] pairs.
Json ruler_pairs(const std::vector<RulerTimes>& rulers);

// Two routines' runs window by window: each one's fastest and middle runs,
// and the ruler's fastest and middle runs of the same window. A chain's
// window and a transition's share this shape.
template <typename Window>
Json json_runs(const std::vector<Window>& windows, const std::string& first, RunSummary Window::*first_runs,
               const std::string& second, RunSummary Window::*second_runs) {
    auto counts = [&](RunSummary Window::*runs, std::uint64_t RunSummary::*figure) {
        Json items = Json::array();
        for (const Window& window : windows) items.push_back(window.*runs.*figure);
        return items;
    };
    auto rulers = [&](RulerTimes Window::*ruler) {
        std::vector<RulerTimes> times;
        for (const Window& window : windows) times.push_back(window.*ruler);
        return ruler_pairs(times);
    };
    return {{first + "_minimums", counts(first_runs, &RunSummary::minimum)},
            {first + "_medians", counts(first_runs, &RunSummary::median)},
            {second + "_minimums", counts(second_runs, &RunSummary::minimum)},
            {second + "_medians", counts(second_runs, &RunSummary::median)},
            {"ruler_minimums", rulers(&Window::ruler)},
            {"ruler_medians", rulers(&Window::ruler_middle)}};
}

// A cell's modes (see modes.hpp): whether it is bimodal, the median of its
// fast mode's runs (null where it has none), their share and count, and the
// count of its runs.
void add_json_modes(Json& object, const Modes& modes);

// A chain's short and long routine's runs, window by window.
Json json_windows(const std::vector<ChainWindow>& windows);
