#include "matrix/report_text.hpp"

#include "console/console_output.hpp"
#include "matrix/builder/chain_builder.hpp"
#include "texts/messages.hpp"

std::string padded(std::string text, int width) {
    const std::size_t size = static_cast<std::size_t>(width < 0 ? -width : width);
    if (text.size() >= size) return text;
    return width < 0 ? std::string(size - text.size(), ' ') + text : text + std::string(size - text.size(), ' ');
}

std::string signed_cycles(double cycles, int places) {
    // format_fixed writes a figure that rounds to zero without a sign.
    const std::string digits = format_fixed(cycles, places);
    return digits[0] == '-' ? digits : "+" + digits;
}

std::string modes_text(const Modes& modes, double typical, int places) {
    return "fast " + signed_cycles(modes.fast, places) + " in " + format_fixed(100 * modes.fast_share(), 1) +
           "% of runs, typical " + signed_cycles(typical, places);
}

std::string listing_of(const std::string& title, const std::vector<Instruction>& body) {
    auto compose = [&](TextWriter& out) {
        out.line(0, title);
        out.line(1, "code:");
        compose_listing(out, body);
    };
    // Counted first, then written, as the benchmark's texts are.
    TextWriter counter;
    compose(counter);
    std::u16string listing(counter.length(), u' ');
    TextWriter writer(listing.data());
    compose(writer);
    // The listing breaks its lines with CR LF; the rest of this program's
    // output uses the platform's own.
    std::string text;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        if (listing[i] == u'\r' && i + 1 < listing.size() && listing[i + 1] == u'\n') {
            text += line_break;
            ++i;
        } else {
            text += static_cast<char>(listing[i]);
        }
    }
    // The listing ends with an empty line, which parts it from the next.
    return text + std::string(line_break);
}

std::string listing_of(const std::string& title, const std::vector<Instruction>& body, TimedRun routine) {
    std::vector<InstructionForm> forms;
    forms.reserve(body.size());
    const std::uint8_t* code = chain_loop(routine);
    for (const Instruction& instruction : body) {
        InstructionForm form = *instruction.form;
        for (std::size_t i = 0; i < form.encoding.size; ++i) form.encoding.bytes[i] = *code++;
        forms.push_back(form);
    }
    std::vector<Instruction> running;
    for (const InstructionForm& form : forms) running.push_back({&form});
    return listing_of(title, running);
}
