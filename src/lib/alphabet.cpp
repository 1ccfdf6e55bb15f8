// alphabet: residue and register letters and numbers, and records made
// from letters held in memory.
#include <algorithm>
#include <climits>
#include <string>

#include "errors.h"
#include "fasta_chars.h"
#include "velcorin2/velcorin2.h"

namespace velcorin2 {

int8_t residue_number(char letter)
{
    int c = (unsigned char)letter;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    for (int i = 0; RESIDUE_LETTERS[i]; i++)
        if ((unsigned char)RESIDUE_LETTERS[i] == c) return int8_t(i);
    return -1;
}

char residue_letter(int8_t number) { return number >= 0 && number < 22 ? RESIDUE_LETTERS[number] : '\0'; }

char register_letter(int8_t number) { return number >= 0 && number < NREG ? REGISTER_LETTERS[number] : '\0'; }

Sequence sequence_from_letters(std::string_view code, std::string_view title, std::string_view letters)
{
    Sequence s;
    code.copy(s.code, std::min<size_t>(code.size(), NAMELEN - 1));
    title.copy(s.title, std::min<size_t>(title.size(), NAMELEN - 1));
    s.residues.reserve(letters.size());
    for (size_t i = 0; i < letters.size(); i++) {
        const int8_t k = fasta_class[(unsigned char)letters[i]];
        if (k >= 0) {
            s.residues.push_back(k);
            continue;
        }
        // A stop "*" may end the letters; nothing but blanks may follow it.
        if (k == CH_END && letters.find_first_not_of(" \t\r\n", i + 1) == std::string_view::npos) break;
        if (k != CH_SKIP) {
            std::string what = "Unable to parse input '";
            what += letters[i];
            what += "' at position " + std::to_string(i + 1) + " of sequence " + std::string(s.code) + ".\n";
            raise_text(what, false, STATUS_USAGE, ErrorCode::PARSE);
        }
    }
    if (s.residues.size() > size_t(INT32_MAX)) raise_numbered(ErrorCode::MEMORY, "");
    s.length = int32_t(s.residues.size());
    s.full_length = s.length;
    return s;
}

}  // namespace velcorin2
