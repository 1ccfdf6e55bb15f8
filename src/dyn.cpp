// dyn: the maximum over sliding windows.
//
// Contents:
//   max_over_windows  per position, the best score of the windows containing it
//
// The windows are cut into blocks of `window` consecutive window indices.
// The windows containing position p are p - window + 1 .. p: the tail of one
// block and the head of the next.  A suffix maximum of the earlier block and a
// prefix maximum of the later one therefore give the answer with one
// comparison, so the cost per position does not grow with the window.
#include "dyn.h"

#include "velcorin2.h"

namespace {
double prev_block_maxima[MAXSEQ];  // suffix maxima within each block
double block_maxima[MAXSEQ];       // prefix maxima within each block
}  // namespace

void max_over_windows(double *maxima, const double *windowscore, int32_t seqlen, int32_t window)
{
    const int32_t number_blocks = seqlen / window;
    const int32_t r = seqlen - number_blocks * window;

    // Suffix maxima, last block first.  The last block holds only the window
    // indices up to seqlen - window, that is up to r within the block.
    for (int32_t b = number_blocks - 1; b >= 0; b--) {
        const int32_t base = b * window;
        const int32_t top = (b == number_blocks - 1) ? r : window - 1;
        prev_block_maxima[base + top] = windowscore[base + top];
        for (int32_t k = base + top - 1; k >= base; k--)
            prev_block_maxima[k] = windowscore[k] > prev_block_maxima[k + 1] ? windowscore[k]
                                                                           : prev_block_maxima[k + 1];
    }

    // Prefix maxima, and every position that is not a block start and lies in
    // a whole block: head of block b up to p, tail of block b - 1 from j + 1.
    const int32_t last_window = seqlen - window;
    for (int32_t b = 0; b < number_blocks; b++) {
        const int32_t base = b * window;
        block_maxima[base] = windowscore[base];
        for (int32_t j = 1; j < window; j++) {
            const int32_t p = base + j;
            if (p <= last_window)
                block_maxima[p] = windowscore[p] > block_maxima[p - 1] ? windowscore[p] : block_maxima[p - 1];
            else
                block_maxima[p] = block_maxima[p - 1];
            if (b == 0) {
                maxima[p] = block_maxima[p];
            } else {
                const double tail = prev_block_maxima[base - window + j + 1];
                maxima[p] = block_maxima[p] > tail ? block_maxima[p] : tail;
            }
        }
    }

    // Positions after the last whole block see only the tail of the last block.
    for (int32_t p = number_blocks * window; p < seqlen; p++)
        maxima[p] = prev_block_maxima[p - window + 1];

    // Block starts: the window starting there and the tail of the block before.
    maxima[0] = windowscore[0];
    for (int32_t b = 1; b < number_blocks; b++) {
        const int32_t base = b * window;
        const double tail = prev_block_maxima[base - window + 1];
        maxima[base] = tail > windowscore[base] ? tail : windowscore[base];
    }
}
