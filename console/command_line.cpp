#include "console/command_line.hpp"

#include <cstdio>

#include "console/console_output.hpp"

void prepare_command_line(CLI::App& app, bool& help) {
    app.set_help_flag();
    app.add_flag("-h,--help", help);
    app.allow_extras();
}

CLI::Option* add_value_option(CLI::App& app, const std::string& name, std::string& value, const std::string& needs) {
    return app.add_option(name, value, needs)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::string parse_command_line(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // An option without its value: CLI11 names the option first.
        const std::string what = error.what();
        for (const CLI::Option* option : app.get_options()) {
            const std::string name = option->get_name();
            if (what.rfind(name + ":", 0) == 0 && !option->get_description().empty()) {
                return name + " needs " + option->get_description();
            }
        }
        return what;
    }
    const std::vector<std::string> extra = app.remaining();
    if (!extra.empty()) return "unknown option '" + extra.front() + "'";
    return "";
}

int refuse_option(const std::string& why) {
    std::fprintf(stderr, "%s: %s; try --help\n", program_name, why.c_str());
    return 2;
}
