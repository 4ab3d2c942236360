#pragma once

#include <cstdint>

// The values every chain starts from: the triangles', the transitions' and
// the movement tables'. Each loads its registers from matrix_chain_values
// before its first time stamp and stores register 0 into
// matrix_chain_result after its second.

// Sixteen 32-bit lanes, lowest first: one ZMM register's worth, of which
// the narrower tables use the first 4 or 8.
struct alignas(64) VectorValue {
    std::uint32_t lanes[16];
    friend constexpr bool operator==(const VectorValue&, const VectorValue&) = default;
};

// The same 128 bits in every lane of a register.
constexpr VectorValue repeated(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    VectorValue value{};
    for (int i = 0; i < 16; i += 4) {
        value.lanes[i] = a, value.lanes[i + 1] = b, value.lanes[i + 2] = c, value.lanes[i + 3] = d;
    }
    return value;
}

// The chain's value, which every class leaves as it is but those that run
// on zeros: each 64-bit half is 0x3FF00000'40000000. It is a normal number in
// every type the classes read it as: as singles 2.0 and 1.875, as a double
// 1.0000002384, and its halves are equal, so the swaps of the shuffles and
// the lane crossings keep it too. The operands are zero, all ones and 1.0,
// which add nothing, mask nothing and multiply by one, exactly (a fused
// multiply-add adds zero times one); pmuludq multiplies each half's lower
// lane, 2^30, by 4 * 0x3FF00000 + 1 and so gives the half back; the blends'
// masks are the value's own sign bits, and pblendvb, whose bytes have some
// set, blends the value with itself. No value met by any chain is a
// denormal, an infinity or a NaN, so no chain can meet a microcode assist,
// and none sets an exception flag of the MXCSR.
//
// A conversion changes every value but zero, which it converts exactly:
// a chain with a conversion in it runs on zeros, which are no denormal and
// meet no assist either. So does a chain with any other class that keeps no
// value but zero (see the classes' table).
//
// A round trip's instructions keep the value between them: what leaves the
// vector register for EAX comes back to the place it left, but for movd's
// round trip, which clears the rest of the register and runs on zeros.
inline constexpr VectorValue chain_value = repeated(0x40000000, 0x3FF00000, 0x40000000, 0x3FF00000);
inline constexpr VectorValue zero_value{};

// Registers 0 to 7 as the chains start: the chain's value, then the
// operands; the chains that run on zeros start from row 1, zero.
extern "C" const VectorValue matrix_chain_values[8];
// Register 0 as the last run of a chain left it, at its table's width.
extern "C" VectorValue matrix_chain_result;
