#include "scio.h"
char aaname[] = "LIVMFYGAKRHEDQNSTCWP-X";
char posname[] = "abcdefg";

// Placeholders until the stream and reader code lands.
#include <cstdio>
int8_t aanum(int8_t ch)
{
    int c = (unsigned char)ch;
    if (c >= 'a' && c <= 'z') c -= 32;
    for (int i = 0; aaname[i]; i++)
        if (aaname[i] == c) return int8_t(i);
    return -1;
}
int8_t numaa(int8_t ch) { return (ch >= 0 && ch < 22) ? int8_t(aaname[(int)ch]) : 0; }
int8_t numpos(int8_t ch) { return (ch >= 0 && ch < 7) ? int8_t(posname[(int)ch]) : 0; }
FILE *sopen(const char *name, const char *ops) { return name ? std::fopen(name, ops) : nullptr; }
void sclose(FILE *fl) { std::fclose(fl); }
