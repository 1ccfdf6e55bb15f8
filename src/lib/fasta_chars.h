// fasta_chars: what the sequence readers make of each byte.
#pragma once

#include <array>
#include <cstdint>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// A residue number, or one of these.
inline constexpr int8_t CH_SKIP = -1, CH_END = -2, CH_BAD = -3;

constexpr std::array<int8_t, 256> make_fasta_class()
{
    std::array<int8_t, 256> t{};
    for (auto &k : t) k = CH_BAD;
    for (int i = 0; i < NAA; i++) {
        t[(unsigned char)RESIDUE_LETTERS[i]] = int8_t(i);
        t[(unsigned char)RESIDUE_LETTERS[i] + ('a' - 'A')] = int8_t(i);
    }
    // Unknown residues; O (pyrrolysine) and J (leucine or isoleucine) are
    // letters UniProt uses, read like X rather than ending the run.
    for (char c : {'X', 'B', 'U', 'Z', 'O', 'J'}) t[(unsigned char)c] = t[(unsigned char)c + ('a' - 'A')] = 20;
    for (char c : {'\t', '\n', '\r', ' ', '(', ')', ',', '.', '/', '='}) t[(unsigned char)c] = CH_SKIP;
    t['*'] = CH_END;
    return t;
}
inline constexpr std::array<int8_t, 256> fasta_class = make_fasta_class();

}  // namespace velcorin2
