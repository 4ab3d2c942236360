#include "matrix/report_json.hpp"

Json ruler_pairs(const std::vector<RulerTimes>& rulers) {
    Json pairs = Json::array();
    for (const RulerTimes& ruler : rulers) pairs.push_back(Json::array({ruler.shorter, ruler.longer}));
    return pairs;
}

Json json_windows(const std::vector<ChainWindow>& windows) {
    return json_runs(windows, "short", &ChainWindow::shorter, "long", &ChainWindow::longer);
}
