// count_files: the GenFreq and PosFreq files of a model: a header line,
// then the tables as big-endian 32-bit integers in their declared order.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "errors.h"
#include "velcorin2/io.h"

namespace velcorin2 {

namespace {

constexpr char GENFREQ_MAGIC[] = "GenFreq 1 + 20 + 7 + 20x20x7 long\n";
constexpr char POSFREQ_MAGIC[] = "PosFreq 7 + 20x7 + 7x7 + 20x20x7x7 long\n";
constexpr const char *GENFREQ_FILE = "<GenFreq> file";
constexpr const char *POSFREQ_FILE = "<PosFreq> file";
static_assert(sizeof GENFREQ_MAGIC - 1 == 34 && sizeof POSFREQ_MAGIC - 1 == 40);

void read_magic(FILE *fl, const char *magic, const char *what)
{
    char buf[1024];
    int len = 0;
    for (int c; len < int(sizeof buf) - 1 && (c = getc_unlocked(fl)) != EOF;) {
        buf[len++] = char(c);
        if (c == '\n') break;
    }
    if (size_t(len) != std::strlen(magic) || std::memcmp(buf, magic, size_t(len)) != 0)
        raise_numbered(ErrorCode::MAGIC, what);
}

void from_big_endian(int32_t *arr, int size)
{
    for (int i = 0; i < size; i++) {
        unsigned char b[4];
        std::memcpy(b, &arr[i], 4);
        arr[i] = int32_t(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
    }
}

void read_table(FILE *fl, int32_t *arr, int size, const char *what)
{
    if (std::fread(arr, sizeof *arr, size_t(size), fl) != size_t(size)) raise_numbered(ErrorCode::READ, what);
    from_big_endian(arr, size);
}

bool write_table(FILE *fl, const int32_t *arr, int size)
{
    unsigned char buf[4 * 256];
    for (int i = 0; i < size;) {
        int k = size - i < 256 ? size - i : 256;
        for (int j = 0; j < k; j++) {
            uint32_t v = uint32_t(arr[i + j]);
            buf[4 * j] = (unsigned char)(v >> 24);
            buf[4 * j + 1] = (unsigned char)(v >> 16);
            buf[4 * j + 2] = (unsigned char)(v >> 8);
            buf[4 * j + 3] = (unsigned char)v;
        }
        if (std::fwrite(buf, 4, size_t(k), fl) != size_t(k)) return false;
        i += k;
    }
    return true;
}

bool finish_write(FILE *fl, bool ok) { return std::fflush(fl) == 0 && ok && !std::ferror(fl); }

// check_counts: every count file the counting tool writes holds no negative
// count, totals that are the sums of the counts they total, and nothing
// after its tables.  A file that breaks any of these is damaged (a flipped
// bit, a wrong file appended) and would give scores that look valid.
void check_counts(FILE *fl, const char *what, bool negative, bool sums_differ)
{
    const char *why = negative                   ? ": a negative count"
                      : sums_differ              ? ": a total is not the sum of its counts"
                      : getc_unlocked(fl) != EOF ? ": bytes after the last table"
                                                 : nullptr;
    if (!why && std::ferror(fl)) why = "";
    if (why) raise_numbered(ErrorCode::READ, std::string(what) + why);
}

}  // namespace

bool is_count_file_header(const char *head)
{
    return !std::strncmp(head, "GenFreq ", 8) || !std::strncmp(head, "PosFreq ", 8);
}

void read_background_counts(FILE *fl, BackgroundCounts &g)
{
    read_magic(fl, GENFREQ_MAGIC, GENFREQ_FILE);
    read_table(fl, &g.totals, 1, GENFREQ_FILE);
    read_table(fl, g.freqs, NAA, GENFREQ_FILE);
    read_table(fl, g.totalp, NREG, GENFREQ_FILE);
    read_table(fl, &g.freqp[0][0][0], NAA * NAA * NREG, GENFREQ_FILE);
    bool negative = g.totals < 0, differ = false;
    int64_t sum = 0;
    for (int x = 0; x < NAA; x++) {
        negative |= g.freqs[x] < 0;
        sum += g.freqs[x];
    }
    differ |= sum != g.totals;
    for (int d = 0; d < NREG; d++) {
        int64_t pairs = 0;
        for (int x = 0; x < NAA; x++)
            for (int y = 0; y < NAA; y++) {
                negative |= g.freqp[x][y][d] < 0;
                pairs += g.freqp[x][y][d];
            }
        negative |= g.totalp[d] < 0;
        differ |= pairs != g.totalp[d];
    }
    check_counts(fl, GENFREQ_FILE, negative, differ);
}

void read_coil_counts(FILE *fl, CoilCounts &p)
{
    read_magic(fl, POSFREQ_MAGIC, POSFREQ_FILE);
    read_table(fl, p.totals, NREG, POSFREQ_FILE);
    read_table(fl, &p.freqs[0][0], NAA * NREG, POSFREQ_FILE);
    read_table(fl, &p.totalp[0][0], NREG * NREG, POSFREQ_FILE);
    read_table(fl, &p.freqp[0][0][0][0], NAA * NAA * NREG * NREG, POSFREQ_FILE);
    bool negative = false, differ = false;
    for (int r = 0; r < NREG; r++) {
        int64_t sum = 0;
        for (int x = 0; x < NAA; x++) {
            negative |= p.freqs[x][r] < 0;
            sum += p.freqs[x][r];
        }
        negative |= p.totals[r] < 0;
        differ |= sum != p.totals[r];
        for (int q = 0; q < NREG; q++) {
            int64_t pairs = 0;
            for (int x = 0; x < NAA; x++)
                for (int y = 0; y < NAA; y++) {
                    negative |= p.freqp[x][y][r][q] < 0;
                    pairs += p.freqp[x][y][r][q];
                }
            negative |= p.totalp[r][q] < 0;
            differ |= pairs != p.totalp[r][q];
        }
    }
    check_counts(fl, POSFREQ_FILE, negative, differ);
}

bool write_background_counts(FILE *fl, const BackgroundCounts &g)
{
    bool ok = std::fputs(GENFREQ_MAGIC, fl) != EOF && write_table(fl, &g.totals, 1) && write_table(fl, g.freqs, NAA) &&
              write_table(fl, g.totalp, NREG) && write_table(fl, &g.freqp[0][0][0], NAA * NAA * NREG);
    return finish_write(fl, ok);
}

bool write_coil_counts(FILE *fl, const CoilCounts &p)
{
    bool ok = std::fputs(POSFREQ_MAGIC, fl) != EOF && write_table(fl, p.totals, NREG) &&
              write_table(fl, &p.freqs[0][0], NAA * NREG) && write_table(fl, &p.totalp[0][0], NREG * NREG) &&
              write_table(fl, &p.freqp[0][0][0][0], NAA * NAA * NREG * NREG);
    return finish_write(fl, ok);
}

}  // namespace velcorin2
