// records: one record's way from the reader to the writers, and the pass
// over the whole input.
#include "records.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "velcorin2/counting.h"
#include "velcorin2/io.h"

namespace velcorin2::cli {

Sinks make_sinks(const RunFiles &f)
{
    Sinks k;
    FILE *const by_out[NOUT] = {stderr, f.plot,        f.coil_log, f.sequence_log, f.table,
                                f.gff3, f.regions_tsv, f.summary,  f.html};
    for (int o = 0; o < NOUT; o++) {
        int i = 0;
        while (i < k.count && k.file[i] != by_out[o]) i++;
        if (i == k.count) k.file[k.count++] = by_out[o];
        k.of[o] = i;
    }
    return k;
}

Scratch::Scratch(const Run &run)
{
    if (run.s.mode & MODE_LEAVEOUT) {
        coil = std::make_unique<CoilCounts>(run.coil);
        model = std::make_unique<Model>(run.model);
    }
}

ReadResult read_record(const Run &run, Item &it, int number, int64_t *line)
{
    const RunSettings &s = run.s;
    Sequence &rec = it.rec;
    FILE *in = run.files.sequences;
    RecordRead r;
    if (run.known_registers)
        r = read_register_record(in, rec, s.max_length);
    else
        r = read_fasta_record(in, rec, s.max_length, line) ? RecordRead::RECORD : RecordRead::END;
    check_read_error(in);  // a read error is not the end of the input
    it.number = number;
    it.scored = false;
    if (r == RecordRead::END) return ReadResult::END;
    it.scored = rec.length >= s.shortest_segment;
    it.region = PlotRegion{};
    // The region file is read forward, record by record, so it is read here in input order.
    if (it.scored && (s.mode & MODE_VIEW) && run.files.plot_regions) {
        it.region.from_file = true;
        if (!read_plot_region(run.files.plot_regions, rec.code, &it.region.first, &it.region.last)) {
            it.region.first = 1;
            it.region.last = rec.length;
        }
    }
    return r == RecordRead::INCOMPLETE ? ReadResult::LAST : ReadResult::RECORD;
}

namespace {

// process: the reader's warnings of a record, and for a record long
// enough its scores and outputs, appended to the job's texts.
void process(const Run &run, Scratch &w, Job &job, Item &j)
{
    const RunSettings &s = run.s;
    Sequence &rec = j.rec;
    const int32_t n = rec.length;
    std::string *text[NOUT];
    for (int o = 0; o < NOUT; o++) text[o] = &job.text[run.sinks.of[o]];

    *text[OUT_ERR] += rec.warnings;
    const bool summarized = run.files.summary || run.files.html;
    Prediction &p = w.prediction;
    if (!j.scored) {
        if (summarized) {
            p.length = n;
            p.scored = false;
            w.regions.clear();
            j.summary = summarize_record(run.model.pscores, rec, p, w.regions);
            if (run.files.summary) write_summary_row(rec, j.summary, j.number, *text[OUT_SUMMARY]);
        }
        return;
    }
    if (j.number % 10 == 0 && run.state.progress_marks) *text[OUT_ERR] += '.';  // a progress mark
    // FASTA gives no registers: every residue stands outside any known coil.
    if (!run.known_registers) {
        if (rec.registers.size() < size_t(n)) rec.registers.resize(size_t(n));
        std::memset(rec.registers.data(), NOREG, size_t(n));
    }
    const Model *m = &run.model;
    if (s.mode & MODE_LEAVEOUT) {
        add_coil_counts(*w.coil, rec, -1);
        rebuild_coil_tables(*w.model, *w.coil);
        m = w.model.get();
    }
    predict(*m, rec, PredictOptions{run.known_registers, (s.mode & MODE_VIEW) != 0}, w.ws, p);
    if (s.mode & MODE_LEAVEOUT) add_coil_counts(*w.coil, rec, +1);

    const PscoreTables &t = run.model.pscores;
    if (s.mode & MODE_VIEW) write_plot_page(rec, p, j.region, *text[OUT_PLOT]);
    if (s.mode & MODE_VERBOSE) write_score_line(rec, p, j.number, *text[OUT_COIL]);
    if (s.mode & MODE_PRINT) write_coil_report(t, s, rec, p, j.number, *text[OUT_COIL], *text[OUT_SEQLOG]);
    if (!s.no_table) write_residue_table(t, rec, p, *text[OUT_TABLE]);
    // One list of regions per record, for every output that shows regions.
    if (run.files.gff3 || run.files.regions_tsv || summarized) {
        find_regions(run.model, p, s.region_pscore, s.region_min_length, w.regions);
        if (run.files.gff3) write_gff3_regions(t, rec, p, j.number, w.regions, *text[OUT_GFF3]);
        if (run.files.regions_tsv) write_regions_tsv(t, rec, p, j.number, w.regions, *text[OUT_REGIONS]);
    }
    if (!summarized) return;
    j.summary = summarize_record(t, rec, p, w.regions);
    if (run.files.summary) write_summary_row(rec, j.summary, j.number, *text[OUT_SUMMARY]);
    // Records with a region written already, and those before this one in
    // its batch: once they fill the cap, no later profile is shown.
    if (run.files.html && !w.regions.empty() &&
        run.state.with_region.load(std::memory_order_relaxed) + w.earlier < s.html_max) {
        SvgOptions o;
        o.pscore = s.region_pscore;
        o.min_length = s.region_min_length;
        o.stock = (s.mode & MODE_VIEW) != 0;
        o.regions = &w.regions;
        write_html_profile(run.model, rec, p, j.number, o, j.profile);
    }
    if (!w.regions.empty()) w.earlier++;
}

}  // namespace

void process_all(const Run &run, Scratch &w, Job &job)
{
    // Room for the whole table of the job at once: a text that grows record
    // by record is copied again at every step.
    if (!run.s.no_table) {
        size_t rows = 0;
        for (size_t i = 0; i < job.used; i++) rows += size_t(job.items[i].rec.length);
        std::string &table = job.text[run.sinks.of[OUT_TABLE]];
        table.reserve(table.size() + rows * 58 + job.used * 2 * NAMELEN);
    }
    w.earlier = 0;
    for (size_t i = 0; i < job.used; i++) process(run, w, job, job.items[i]);
}

namespace {

// report_rows: the report's rows and the profiles within the cap of a
// job, and the counts, in input order.
void report_rows(const Run &run, Job &j)
{
    ReportCounts &c = run.state.counts;
    std::string &profiles = j.text[run.sinks.of[OUT_HTML]];
    std::string rows;
    for (size_t i = 0; i < j.used; i++) {
        Item &it = j.items[i];
        const RecordSummary &r = it.summary;
        c.records++;
        c.scored += r.scored;
        c.residues += r.scored_length;
        if (r.regions > 0) {
            c.with_region++;
            c.regions += r.regions;
            c.region_residues += r.region_residues;
            const bool shown = c.profiles < c.cap;
            write_html_row(it.rec, r, it.number, shown, rows);
            if (shown) {
                profiles += it.profile;
                c.profiles++;
            } else {
                c.left_out++;
            }
        }
        it.profile.clear();
    }
    add_rows(run.state.rows, rows, run.s.html.name);
    run.state.with_region.store(c.with_region, std::memory_order_relaxed);
}

}  // namespace

void write_out(const Run &run, Job &j)
{
    const Sinks &k = run.sinks;
    if (j.error) std::rethrow_exception(j.error);
    if (run.files.html) report_rows(run, j);
    Progress &progress = run.state.progress;
    for (int i = 0; i < k.count; i++) {
        std::string &t = j.text[i];
        if (!t.empty() && k.file[i]) {
            if (k.file[i] == stderr) progress_clear(progress);
            std::fwrite(t.data(), 1, t.size(), k.file[i]);
        }
        t.clear();
    }
    progress_update(progress, int64_t(j.used), j.residues, j.input_offset);
    j.used = 0;
    j.residues = 0;
}

namespace {

// SeenNames: the names met so far, as 64-bit hashes in an open-addressing
// table that doubles as it fills: 8 bytes a name and at most 64 MiB.  Past
// MAX_NAMES names, later ones are still looked up but no longer remembered.
// Two names whose hashes collide (about n * n / 2^65 for n names) read as one.
class SeenNames {
public:
    static constexpr size_t MAX_NAMES = size_t(1) << 22;
    // seen_before: whether `name` was met before; remembers it if there is room.
    bool seen_before(const std::string &name)
    {
        uint64_t h = 0xcbf29ce484222325u;  // FNV-1a, then a finalizer that spreads the bits
        for (unsigned char c : name) h = (h ^ c) * 0x100000001b3u;
        h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdu;
        h ^= h >> 33;
        if (h == 0) h = 1;  // 0 marks an empty slot
        if (slots_.empty()) slots_.resize(1024);
        size_t mask = slots_.size() - 1, i = h & mask;
        for (; slots_[i] != 0; i = (i + 1) & mask)
            if (slots_[i] == h) return true;
        if (used_ >= MAX_NAMES) return false;
        slots_[i] = h;
        if (++used_ * 2 > slots_.size()) grow();
        return false;
    }

private:
    std::vector<uint64_t> slots_;
    size_t used_ = 0;
    void grow()
    {
        std::vector<uint64_t> old(slots_.size() * 2);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (uint64_t h : old) {
            if (h == 0) continue;
            size_t i = h & mask;
            while (slots_[i] != 0) i = (i + 1) & mask;
            slots_[i] = h;
        }
    }
};

// What the main thread notes about the records as it reads them, in input order.
struct InputBook {
    int64_t cut = 0;   // records cut to the length limit
    int64_t line = 1;  // of the FASTA input, for the place of an unreadable character
    SeenNames names;   // region-file names of the records scored so far
};

// note_record: the bookkeeping of a record just read.  A scored record whose
// name in the region files (its code, encoded) an earlier one had is warned
// about in its place among the records' messages: every output names
// records by their code.
void note_record(InputBook &book, Item &it)
{
    Sequence &rec = it.rec;
    if (rec.truncated) book.cut++;
    if (!it.scored) return;
    std::string id;
    region_seqid(rec.code, it.number, id);
    if (book.names.seen_before(id))
        appendf(rec.warnings, "velcorin2: warning: record %d repeats the code %s of an earlier record%s\n", it.number,
                id.c_str(), std::strlen(rec.code) == NAMELEN - 1 ? " (codes are kept to their first 1023 bytes)" : "");
}

// fill: reads records into `j` until it holds a batch; false once the input
// has ended.  A failure to read is thrown after `flush` wrote what came before.
template <class Flush> bool fill(const Run &run, InputBook &book, Job &j, int &number, Flush flush)
{
    bool more = true;
    while (more && j.used < BATCH_RECORDS && j.residues < BATCH_RESIDUES) {
        Item &it = j.next_item();
        ReadResult r;
        try {
            r = read_record(run, it, number, &book.line);
        } catch (...) {
            flush();  // the records before the failure are written first
            throw;
        }
        if (r == ReadResult::END) break;
        note_record(book, it);
        j.used++;
        number++;
        j.residues += it.rec.length;
        more = r != ReadResult::LAST;
    }
    if (run.state.progress.on) j.input_offset = ftello(run.files.sequences);
    return more && j.used > 0 && (j.used == BATCH_RECORDS || j.residues >= BATCH_RESIDUES);
}

}  // namespace

ReportRows::~ReportRows()
{
    if (spill) std::fclose(spill);
}

void add_rows(ReportRows &p, const std::string &rows, const std::string &report)
{
    if (!p.spill && p.kept.size() + rows.size() <= ROWS_IN_MEMORY) {
        p.kept += rows;
        return;
    }
    if (!p.spill) {
        const char *dir = std::getenv("TMPDIR");
        std::string name = std::string(dir && *dir ? dir : "/tmp") + "/velcorin2-report-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd < 0 || unlink(name.c_str()) != 0 || !(p.spill = fdopen(fd, "w+b"))) {
            const int e = errno;
            if (fd >= 0 && !p.spill) close(fd);
            raise_numbered(ErrorCode::OPEN, report + ": no scratch file for its table rows (" + name + ")", e);
        }
    }
    if (std::fwrite(rows.data(), 1, rows.size(), p.spill) != rows.size())
        raise_numbered(ErrorCode::WRITE, report + " (its scratch file of table rows)", errno);
}

void write_rows(ReportRows &p, FILE *to, const std::string &report)
{
    std::fwrite(p.kept.data(), 1, p.kept.size(), to);
    if (!p.spill) return;
    char buf[1 << 16];
    size_t n;
    if (std::fflush(p.spill) != 0 || std::fseek(p.spill, 0, SEEK_SET) != 0)
        raise_numbered(ErrorCode::WRITE, report + " (its scratch file of table rows)", errno);
    while ((n = std::fread(buf, 1, sizeof buf, p.spill)) > 0) std::fwrite(buf, 1, n, to);
    if (std::ferror(p.spill)) raise_numbered(ErrorCode::READ, report + " (its scratch file of table rows)", errno);
}

void process_input(const RunSettings &s, const RunFiles &files, const Model &m, const CoilCounts &coil)
{
    RunState state;
    state.counts.cap = s.html_max;
    progress_start(state.progress, s.quiet, files.sequences);
    state.progress_marks = !s.quiet && !state.progress.on;
    const Run run{s, m, coil, files, make_sinks(files), (s.mode & (MODE_LEAVEOUT | MODE_POS)) != 0, state};
    // The headers come before any record, so an empty input gives valid files.
    std::string header[4];
    write_gff3_header(header[0]);
    write_regions_tsv_header(header[1]);
    write_summary_header(header[2]);
    if (files.html) {
        const std::time_t now = std::time(nullptr);
        std::string started = std::ctime(&now);
        started.pop_back();  // its newline
        write_html_head(s, m, started, header[3]);
    }
    FILE *const header_file[4] = {files.gff3, files.regions_tsv, files.summary, files.html};
    for (int h = 0; h < 4; h++)
        if (header_file[h]) std::fwrite(header[h].data(), 1, header[h].size(), header_file[h]);
    int number = 1;
    InputBook book;
    if (s.threads <= 1) {
        Scratch scratch(run);
        Job j;
        auto flush = [&] {
            process_all(run, scratch, j);
            write_out(run, j);
        };
        for (bool more = true; more;) {
            more = fill(run, book, j, number, flush);
            flush();
        }
    } else {
        Pipeline pipeline(run, s.threads);
        for (bool more = true; more;) {
            Job &j = pipeline.next();
            more = fill(run, book, j, number, [&] {
                if (j.used > 0) pipeline.submit();
                pipeline.drain();
            });
            if (j.used > 0) pipeline.submit();
        }
        pipeline.drain();
    }
    progress_clear(state.progress);
    if (files.html) {
        std::string text;
        write_html_profiles_end(state.counts, text);
        std::fwrite(text.data(), 1, text.size(), files.html);
        write_rows(state.rows, files.html, s.html.name);
        text.clear();
        write_html_tail(state.counts, text);
        std::fwrite(text.data(), 1, text.size(), files.html);
    }
    if (!s.quiet) std::fputc('\n', stderr);
    if (number == 1)  // an empty input as much as one without a header line
        std::fprintf(stderr, "velcorin2: warning: no records found in %s\n", stream_name(files.sequences));
    // Said once more at the end, where it cannot scroll away among the records' lines.
    if (book.cut > 0)
        std::fprintf(
            stderr,
            "velcorin2: warning: %lld record%s cut to the first %d residues (--max-length 0 scores whole records)\n",
            (long long)book.cut, book.cut == 1 ? " was" : "s were", s.max_length);
}

}  // namespace velcorin2::cli
