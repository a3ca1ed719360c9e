// The command front: checks the argument, skips the header line and hands
// the rest of standard input to one driver.
#include "skynote.h"
#include "textstream.h"

namespace {

#ifndef SKYNOTE_VERSION
#error "SKYNOTE_VERSION comes from the build (CMakeLists.txt)"
#endif

// The help screen as the observer sees it.  Several rows hold a percent sign,
// so the rows are written as text and never used as formats.
const char* const HELP_ROWS[] = {
    "SKYNOTE " SKYNOTE_VERSION "\n",
    "SKYNOTE gestattet kurze Eingaben der Objektlisten\n",
    "Modus m = Mond:  (vgl tadumond.raw)\n",
    "  %Buch  (eigene Zeile)\n",
    "  #seite objekt objekt objekt\n",
    "  (Space-Ersatzzeichen='_')\n",
    "Modus d = Deep Sky (vgl tadu.raw)\n",
    "  %Buch  (eigene Zeile)\n",
    "  #seite objekt objekt objekt\n",
    "  (Space-Ersatzzeichen='~')\n",
    "  Sonstiges (Beispiele): 12->'NGC 12'  m3->'M 3' usw:i=IC b=B p=PGC u=UGC \n",
    "                        \"1~Del->'1 Del' (und nicht NGC 1 Del)\n",
    "Modus l und L: DeepSkyListe. l=Excel-Export, L=raw-Export f. Objektindex\n",
    "  %Buch Inst Durchm fst \n",
    "  Typ Kat Nr Vergr Sb [Bem [Filter]]\n",
    "\n",
    "\n",
    "\n",
};

constexpr int STATUS_USAGE = 1;
constexpr int STATUS_FAILED = 1; // reading, writing or memory failed
constexpr int STATUS_REFUSED = 255; // the -1 of the help screen and a bad mode

bool is_known_mode(char mode)
{
    return mode == MODE_LIST_EXPORT || mode == MODE_INDEX_EXPORT || mode == MODE_HELP ||
           mode == MODE_DEEP_SKY || mode == MODE_MOON;
}

// Runs the mode that the argument names and returns its exit status.
int run_mode(int argc, char** argv)
{
    if (argc != 2) {
        err_text("Benutzung: SKYNOTE m|d|l|L|h <input > output\n");
        return STATUS_USAGE;
    }
    char mode = argv[1][0];
    // Help needs no input, so it comes before the header line is read.
    if (mode == MODE_HELP) {
        print_help();
        return STATUS_REFUSED;
    }
    in_skip_line();
    if (!is_known_mode(mode)) {
        err_text("Ung\xFCltiger Modus, nur Llhmd erlaubt\n");
        return STATUS_REFUSED;
    }
    if (mode == MODE_LIST_EXPORT || mode == MODE_INDEX_EXPORT)
        convert_deep_sky_list(mode);
    else
        convert_raw_list(mode);
    return 0;
}

} // namespace

#ifdef SKYNOTE_LONG_WAY
bool fast_ways = false;
#else
bool fast_ways = true;
#endif

void print_help()
{
    for (const char* row : HELP_ROWS)
        err_text(row);
}

// Every failure of the streams ends up here: what was produced before it
// still goes out, the message follows, and the status says that it failed.
int skynote_main(int argc, char** argv)
{
    const char* failure;
    int status = stream_run(run_mode, argc, argv, &failure);
    if (failure) {
        err_text(failure);
        status = STATUS_FAILED;
    }
    if (!out_finish() && failure != WRITE_FAILED) {
        err_text(WRITE_FAILED);
        status = STATUS_FAILED;
    }
    // A diagnostic that never arrived leaves the user believing the input
    // was sound: that run has failed too.
    if (err_lost() && status == 0)
        status = STATUS_FAILED;
    return status;
}
