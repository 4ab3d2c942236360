#include "matrix/builder/chain_builder.hpp"

#include <cstdio>
#include <cstdlib>
#include <list>

#include <xbyak/xbyak.h>

#include "clock/upper_state.hpp"
#include "matrix/builder/code_region.hpp"
#include "matrix/chain_values.hpp"
#include "matrix/movement/movement_forms.hpp"

namespace {

// The bytes of a body, instruction after instruction.
std::vector<std::uint8_t> body_bytes_of(std::span<const Instruction> body) {
    std::vector<std::uint8_t> bytes;
    for (const Instruction& instruction : body) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

// The most that a routine adds to its body: the alignment before it, the
// set-up and frame before the loop, the loop control and tear-down after.
constexpr std::size_t routine_overhead = 64 + chain_loop_offset + 128;

// One routine after another into the region, each in its named parts.
class ChainEmitter : public Xbyak::CodeGenerator {
public:
    explicit ChainEmitter(CodeRegion& region) : CodeGenerator(region.size(), region.begin()) {}

    TimedRun emit(const ChainRoutine& routine) {
        align(64);
        const std::uint8_t* entry = getCurr();
        set_up(routine.set_up);
        frame_head(entry, routine.iterations);
        Xbyak::Label loop;
        L(loop);
        body(routine.body);
        loop_control(loop);
        frame_tail();
        tear_down(routine.tear_down);
        return reinterpret_cast<TimedRun>(const_cast<std::uint8_t*>(entry));
    }

private:
#if defined(__x86_64__)
    const Xbyak::Reg64& slot_register() { return rbx; }
    const Xbyak::Reg64& scratch_register() { return rax; }
    const Xbyak::Reg64& stack_pointer() { return rsp; }
    // The program's data, RIP-relative.
    Xbyak::RegRip at(const void* address) { return rip + address; }
#else
    const Xbyak::Reg32& slot_register() { return ebx; }
    const Xbyak::Reg32& scratch_register() { return eax; }
    const Xbyak::Reg32& stack_pointer() { return esp; }
    // The program's data, absolute.
    Xbyak::RegExp at(const void* address) { return Xbyak::RegExp(reinterpret_cast<std::size_t>(address)); }
#endif

    void move_in(ChainRegisters registers, int index, const void* address) {
        switch (registers) {
            case ChainRegisters::sse_xmm: movaps(Xbyak::Xmm(index), ptr[at(address)]); break;
            case ChainRegisters::vex_xmm: vmovaps(Xbyak::Xmm(index), ptr[at(address)]); break;
            case ChainRegisters::ymm: vmovaps(Xbyak::Ymm(index), ptr[at(address)]); break;
            case ChainRegisters::zmm: vmovaps(Xbyak::Zmm(index), ptr[at(address)]); break;
        }
    }
    void move_out(ChainRegisters registers, void* address) {
        switch (registers) {
            case ChainRegisters::sse_xmm: movaps(ptr[at(address)], xmm0); break;
            case ChainRegisters::vex_xmm: vmovaps(ptr[at(address)], xmm0); break;
            case ChainRegisters::ymm: vmovaps(ptr[at(address)], ymm0); break;
            case ChainRegisters::zmm: vmovaps(ptr[at(address)], zmm0); break;
        }
    }
    void form(const InstructionForm& form) {
        for (std::uint8_t byte : form.encoding) db(byte);
    }

    void set_up(const ChainSetUp& part) {
        if (part.slot) {
            push(slot_register());
#if defined(__x86_64__)
            lea(slot_register(), ptr[at(movement_slot)]);
#else
            mov(slot_register(), reinterpret_cast<std::size_t>(movement_slot));
#endif
        }
        if (part.clear == UpperClear::where_avx) {
            Xbyak::Label no_avx;
            cmp(byte[at(&avx_usable)], 0);
            je(no_avx, T_SHORT);
            vzeroupper();
            L(no_avx);
        } else if (part.clear == UpperClear::always) {
            vzeroupper();
        }
        for (std::size_t reg = 0; reg < part.rows.size(); ++reg) {
            move_in(part.registers, static_cast<int>(reg), &matrix_chain_values[part.rows[reg]]);
        }
        if (part.before != nullptr) form(*part.before);
    }

    void store_time_stamp(std::uint64_t& field) {
        auto* low = reinterpret_cast<std::uint8_t*>(&field);
        mov(dword[at(low)], eax);
        mov(dword[at(low + 4)], edx);
    }

    // From the first time stamp to the loop, which starts chain_loop_offset
    // bytes after the entry: the scratch block 80..111 bytes below the stack
    // pointer, 32-byte aligned, and the short jump over single-byte NOPs
    // that never run, written as bytes so that no assembler relaxes it.
    void frame_head(const std::uint8_t* entry, std::uint32_t iterations) {
        rdtsc();
        store_time_stamp(measurement_state.start);
        mov(scratch_register(), stack_pointer());
        sub(scratch_register(), 0x50);
        and_(al, 0xE0);
        mov(ecx, iterations);
        const std::size_t jump_end = static_cast<std::size_t>(getCurr() - entry) + 2;
        if (jump_end > chain_loop_offset) throw Xbyak::Error(Xbyak::ERR_CODE_IS_TOO_BIG);
        const std::size_t filler = chain_loop_offset - jump_end;
        db(0xEB);
        db(static_cast<std::uint8_t>(filler));
        for (std::size_t i = 0; i < filler; ++i) db(0x90);
    }

    void body(const std::vector<Instruction>& instructions) {
        for (std::uint8_t byte : body_bytes_of(instructions)) db(byte);
    }

    // sub ecx, 1 and jne back: a short jump where it reaches, else a near one.
    void loop_control(const Xbyak::Label& loop) {
        sub(ecx, 1);
        jne(loop);
    }

    void frame_tail() {
        rdtsc();
        store_time_stamp(measurement_state.end);
    }

    void tear_down(const ChainTearDown& part) {
        move_out(part.registers, &matrix_chain_result);
        if (part.clear) vzeroupper();
        if (part.after != nullptr) form(*part.after);
        if (part.slot) pop(slot_register());
        ret();
    }
};

}  // namespace

std::vector<TimedRun> build_chains(std::span<const ChainRoutine> routines) {
    std::size_t size = 0;
    for (const ChainRoutine& routine : routines) {
        size += routine_overhead + body_bytes_of(routine.body).size();
        if (routine.set_up.before != nullptr) size += routine.set_up.before->encoding.size;
    }
    // The regions live as long as the program: the tables point into them.
    static std::list<CodeRegion> regions;
    CodeRegion* region = &regions.emplace_back(size, &measurement_state);
    std::vector<TimedRun> entries;
    entries.reserve(routines.size());
    try {
        ChainEmitter emitter(*region);
        for (const ChainRoutine& routine : routines) entries.push_back(emitter.emit(routine));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "simd-mix-matrix: cannot build a chain: %s\n", error.what());
        std::exit(1);
    }
    if (!region->seal()) {
        std::fputs("simd-mix-matrix: cannot make the chains' memory executable\n", stderr);
        std::exit(1);
    }
    return entries;
}
