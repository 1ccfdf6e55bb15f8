// window_maxima: the maximum over sliding windows.
//
// The windows are cut into blocks of `window` consecutive window indices.
// The windows containing position p are p - window + 1 .. p: the tail of one
// block and the head of the next.  A suffix maximum of the earlier block and a
// prefix maximum of the later one therefore give the answer with one
// comparison, so the cost per position does not grow with the window.
#include "scoring.h"

namespace velcorin2 {

namespace {

// out = a > b ? a : b in every lane.  The three rows never overlap, which
// lets the compiler do several lanes per instruction (each lane still makes
// exactly its own comparison).
template <int L> inline void larger(double *__restrict out, const double *__restrict a, const double *__restrict b)
{
    for (int l = 0; l < L; l++) out[l] = a[l] > b[l] ? a[l] : b[l];
}

template <int L> inline void copy(double *__restrict out, const double *__restrict a)
{
    for (int l = 0; l < L; l++) out[l] = a[l];
}

}  // namespace

template <int L>
void max_over_windows(double (*maxima)[L], const double (*windowscore)[L], int32_t seqlen, int32_t window,
                      double (*prev)[L], double (*block)[L])
{
    const int32_t number_blocks = seqlen / window;
    const int32_t r = seqlen - number_blocks * window;

    // Suffix maxima, last block first.  The last block holds only the window
    // indices up to seqlen - window, that is up to r within the block.
    for (int32_t b = number_blocks - 1; b >= 0; b--) {
        const int32_t base = b * window;
        const int32_t top = (b == number_blocks - 1) ? r : window - 1;
        copy<L>(prev[base + top], windowscore[base + top]);
        for (int32_t k = base + top - 1; k >= base; k--) larger<L>(prev[k], windowscore[k], prev[k + 1]);
    }

    // Prefix maxima, and every position that is not a block start and lies in
    // a whole block: head of block b up to p, tail of block b - 1 from j + 1.
    // Only the current block's prefix maxima are needed: block holds one block.
    const int32_t last_window = seqlen - window;
    for (int32_t b = 0; b < number_blocks; b++) {
        const int32_t base = b * window;
        copy<L>(block[0], windowscore[base]);
        for (int32_t j = 1; j < window; j++) {
            const int32_t p = base + j;
            if (p <= last_window)
                larger<L>(block[j], windowscore[p], block[j - 1]);
            else
                copy<L>(block[j], block[j - 1]);
            if (b == 0)
                copy<L>(maxima[p], block[j]);
            else
                larger<L>(maxima[p], block[j], prev[base - window + j + 1]);
        }
    }

    // Positions after the last whole block see only the tail of the last block.
    for (int32_t p = number_blocks * window; p < seqlen; p++) copy<L>(maxima[p], prev[p - window + 1]);

    // Block starts: the window starting there and the tail of the block before.
    copy<L>(maxima[0], windowscore[0]);
    for (int32_t b = 1; b < number_blocks; b++) {
        const int32_t base = b * window;
        larger<L>(maxima[base], prev[base - window + 1], windowscore[base]);
    }
}

template void max_over_windows<1>(double (*)[1], const double (*)[1], int32_t, int32_t, double (*)[1], double (*)[1]);
template void max_over_windows<8>(double (*)[8], const double (*)[8], int32_t, int32_t, double (*)[8], double (*)[8]);

}  // namespace velcorin2
