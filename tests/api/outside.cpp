// A program outside the project, built against the installed library only:
// scores every record of a FASTA file with the model a configuration file
// names, writes the per-residue table (as the command line writes it) to
// standard output and the regions at p < 0.05 to standard error.
//   outside <configuration> <fasta>
#include <velcorin2/io.h>
#include <velcorin2/report.h>
#include <velcorin2/settings.h>
#include <velcorin2/velcorin2.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3) return 1;
    try {
        velcorin2::RunSettings s = velcorin2::default_settings();
        s.mode |= velcorin2::MODE_PROLINEFREE;
        if (!velcorin2::read_configuration(argv[1], s)) return 1;
        auto model = velcorin2::load_model(velcorin2::model_recipe(s));
        FILE *in = velcorin2::open_input(argv[2]);
        velcorin2::Sequence seq;
        velcorin2::Workspace ws;
        velcorin2::Prediction p;
        std::vector<velcorin2::Region> regions;
        std::string table;
        while (velcorin2::read_fasta_record(in, seq, velcorin2::DEFAULT_MAX_LENGTH)) {
            velcorin2::predict(*model, seq, {}, ws, p);
            if (!p.scored) continue;
            table.clear();
            velcorin2::write_residue_table(model->pscores, seq, p, table);
            std::fwrite(table.data(), 1, table.size(), stdout);
            velcorin2::find_regions(*model, p, 0.05, 1, regions);
            for (const velcorin2::Region &r : regions)
                std::fprintf(stderr, "%s %d %d %.2f\n", seq.code, r.from + 1, r.to + 1, r.best);
        }
        velcorin2::close_stream(in);
    } catch (const velcorin2::Error &e) {
        std::fputs(e.what(), stderr);
        return e.status;
    }
    return 0;
}
