#!/usr/bin/env python3
"""The Python package's side of bench/run.sh: predict_fasta over a FASTA file,
asking each record for its regions only, as `velcorin2 --no-table --regions`
does; prints the regions and the cpu time from loading the model on.  The model is that of the command-line runs (count files and distances
given, built-in p-scores).
    python_regions.py <fasta> <threads> <genfreq> <posfreq> <distance>...
"""
import sys
import time

import velcorin2

started = time.process_time()
fasta, threads, genfreq, posfreq = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
model = velcorin2.Model(genfreq, posfreq, [int(d) for d in sys.argv[5:]])
regions = 0
for code, title, p in model.predict_fasta(fasta, threads=threads):
    regions += len(p.regions())
# The regions found, and the cpu seconds of loading and the pass (no interpreter start).
print(regions, round(time.process_time() - started, 3))
