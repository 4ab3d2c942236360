#include "clock/benchmark_loops.hpp"

#include "console/console_output.hpp"

extern "C" {

// Four singles of 1.0 (also a normal value as integers), then zeros, which
// psubd and subps alike take away without a change.
// clang-format off
alignas(16) const std::uint32_t benchmark_loop_values[5][4] = {
    {0x3F800000, 0x3F800000, 0x3F800000, 0x3F800000},  // the scratch block
    {0, 0, 0, 0},                                      // XMM1
    {0, 0, 0, 0},                                      // XMM2
    {0, 0, 0, 0},                                      // XMM3
    {0, 0, 0, 0},                                      // XMM4
};
// clang-format on

alignas(16) std::uint32_t benchmark_loop_result[4];

}  // extern "C"

double cycles_per_iteration(double ticks, RulerTimes ruler) { return ticks / loop_iterations / ticks_per_cycle(ruler); }

bool LoopWindow::usable() const { return rulers_convert(ruler, ruler_middle); }

LoopCycles loop_cycles_from(WindowSettings settings, std::vector<LoopWindow> windows) {
    LoopCycles cycles{settings, std::move(windows), {}, {}};
    std::vector<double> rulers;
    std::array<std::vector<double>, loop_count> best, typical;
    for (const LoopWindow& window : cycles.windows) {
        if (!window.usable()) continue;
        rulers.push_back(ticks_per_cycle(window.ruler));
        for (std::size_t i = 0; i < loop_count; ++i) {
            best[i].push_back(cycles_per_iteration(static_cast<double>(window.loops[i].minimum), window.ruler));
            typical[i].push_back(
                cycles_per_iteration(static_cast<double>(window.loops[i].median), window.ruler_middle));
        }
    }
    cycles.ticks_per_cycle = spread_of(rulers);
    for (std::size_t i = 0; i < loop_count; ++i) cycles.loops[i] = {spread_of(best[i]), spread_of(typical[i])};
    return cycles;
}

LoopCycles measure_loop_cycles(WindowSettings settings, std::span<const BenchmarkLoop, loop_count> loops,
                               std::span<const ClockChain, clock_chain_count> ruler) {
    std::array<TimedRun, loop_count + 2> routines;
    for (std::size_t i = 0; i < loop_count; ++i) routines[i] = loops[i].seeded;
    const std::array<TimedRun, 2> rule = ruler_routines(ruler);
    routines[loop_count] = rule[0];
    routines[loop_count + 1] = rule[1];
    auto window = [&] {
        const WindowRuns runs = time_turns(routines, settings.turns);
        LoopWindow measured;
        for (std::size_t i = 0; i < loop_count; ++i) measured.loops[i] = summary_of(runs[i]);
        const RunSummary shorter = summary_of(runs[loop_count]), longer = summary_of(runs[loop_count + 1]);
        measured.ruler = {shorter.minimum, longer.minimum};
        measured.ruler_middle = {shorter.median, longer.median};
        return measured;
    };
    window();
    std::vector<LoopWindow> windows(settings.windows);
    for (LoopWindow& measured : windows) measured = window();
    return loop_cycles_from(settings, std::move(windows));
}

namespace {

// Right-aligned in `width` columns.
std::string right(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

std::string loop_cycles_report(const LoopCycles& cycles) {
    const std::string next_line(line_break);
    std::string text =
        "the benchmark's loops in core cycles per iteration, frame included, each window by its own "
        "ruler (median of " +
        count_text(cycles.windows.size()) + " windows of " + count_text(cycles.settings.turns) + " turns):" + next_line;
    text += "test      best   typical   spread" + next_line;
    for (std::size_t i = 0; i < loop_count; ++i) {
        const LoopFigures& figures = cycles.loops[i];
        text += right(decimal_text(benchmark_loops[i].test->number), 4) +
                right(format_fixed(figures.best.median, 3), 10) + right(format_fixed(figures.typical.median, 3), 10) +
                right(format_fixed(figures.best.percent(), 2) + "%", 9) + next_line;
    }
    return text;
}

Json loop_cycles_json(const LoopCycles& cycles) {
    auto list = [&](auto value_of) {
        Json items = Json::array();
        for (const LoopWindow& window : cycles.windows) items.push_back(value_of(window));
        return items;
    };
    auto ruler_list = [&](RulerTimes LoopWindow::*ruler) {
        return list([ruler](const LoopWindow& window) {
            return Json::array({(window.*ruler).shorter, (window.*ruler).longer});
        });
    };
    Json json;
    json["windows"] = cycles.windows.size();
    json["turns"] = cycles.settings.turns;
    json["iterations"] = loop_iterations;
    add_json_spread(json, "ticks_per_cycle", cycles.ticks_per_cycle);
    json["ruler_minimums"] = ruler_list(&LoopWindow::ruler);
    json["ruler_medians"] = ruler_list(&LoopWindow::ruler_middle);
    json["tests"] = Json::array();
    for (std::size_t i = 0; i < loop_count; ++i) {
        Json test;
        test["test"] = benchmark_loops[i].test->number;
        add_json_spread(test, "best", cycles.loops[i].best);
        add_json_spread(test, "typical", cycles.loops[i].typical);
        test["minimums"] = list([i](const LoopWindow& window) { return window.loops[i].minimum; });
        test["medians"] = list([i](const LoopWindow& window) { return window.loops[i].median; });
        json["tests"].push_back(std::move(test));
    }
    return json;
}
