#include "console/console_output.hpp"
#include "console/own_console.hpp"
#include "run/measurement.hpp"
#include "run/test_table.hpp"
#include "texts/messages.hpp"

// Takes no arguments: every run does the same work in the same order.
int main() {
    write_console_text(introduction.data(), introduction.size());
    for (const TestCase& test : test_table) {
        write_console_text(test.description.data(), static_cast<std::uint32_t>(test.description.size()));
        measure_test(test);
        print_cycle_count();
    }
    hold_own_console_until_key_press();
    // Output that could not be written completely is a failed run.
    return console_output_failed() ? 1 : 0;
}
