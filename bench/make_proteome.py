#!/usr/bin/env python3
"""Writes a synthetic proteome in FASTA on stdout: N residues in records of
realistic length (log-normal, median about 370) and composition (average
amino-acid frequencies of UniProtKB/Swiss-Prot, release statistics), with a
coiled-coil-like heptad stretch in about one record in eight.  Seeded, so a
given N always gives the same file."""
import random
import sys

# Percent frequencies from the UniProtKB/Swiss-Prot composition statistics.
FREQ = {'A': 8.25, 'R': 5.53, 'N': 4.06, 'D': 5.45, 'C': 1.37, 'Q': 3.93, 'E': 6.75,
        'G': 7.07, 'H': 2.27, 'I': 5.96, 'L': 9.66, 'K': 5.84, 'M': 2.42, 'F': 3.86,
        'P': 4.70, 'S': 6.56, 'T': 5.34, 'W': 1.08, 'Y': 2.92, 'V': 6.87}

def main():
    total = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000_000
    rng = random.Random(20261206)
    letters, weights = zip(*FREQ.items())
    out = sys.stdout
    n = done = 0
    while done < total:
        length = min(20000, max(30, int(rng.lognormvariate(5.9, 0.75))))
        length = min(length, total - done) if total - done >= 30 else length
        seq = rng.choices(letters, weights, k=length)
        if rng.random() < 0.125 and length > 80:
            start = rng.randrange(0, length - 60)
            for i in range(start, min(length, start + rng.randrange(35, 200))):
                reg = (i - start) % 7
                seq[i] = rng.choice('LIVM' if reg in (0, 3) else 'EKQRAS')
        n += 1
        out.write(f">syn{n} synthetic protein {n}\n")
        s = ''.join(seq)
        for i in range(0, length, 60):
            out.write(s[i:i + 60] + "\n")
        done += length

if __name__ == '__main__':
    main()
