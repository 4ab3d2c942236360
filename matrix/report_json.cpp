#include "matrix/report_json.hpp"

Json ruler_pairs(const std::vector<RulerTimes>& rulers) {
    Json pairs = Json::array();
    for (const RulerTimes& ruler : rulers) pairs.push_back(Json::array({ruler.shorter, ruler.longer}));
    return pairs;
}

Json json_windows(const std::vector<ChainWindow>& windows) {
    return json_runs(windows, "short", &ChainWindow::shorter, "long", &ChainWindow::longer);
}

void add_json_modes(Json& object, const Modes& modes) {
    object["bimodal"] = modes.bimodal();
    object["fast"] = modes.fast_runs == 0 ? Json(nullptr) : json_fixed(modes.fast, 6);
    object["fast_share"] = json_fixed(modes.fast_share(), 6);
    object["fast_runs"] = modes.fast_runs;
    object["runs"] = modes.runs;
}
